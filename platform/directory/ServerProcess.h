#pragma once

// The directory server's process as its pid file names it. A pid file outlives a server that
// died, and its pid may since belong to any other process: the process counts as the server only
// while its program is slapd and its command line names the server's own configuration. It is
// held by a pidfd opened before that check, so that the process checked is the one signalled.

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>

namespace platform::directory {

class ServerProcess {
public:
    // The live process `pid` when it runs `program` (a path, or a bare name looked up in PATH)
    // with "-f <configFile>" among its arguments. Otherwise nothing, and `why` says why not.
    static std::optional<ServerProcess> Find(pid_t pid, const std::filesystem::path& program,
                                             const std::filesystem::path& configFile,
                                             std::string& why);

    ServerProcess(ServerProcess&& other) noexcept;
    ServerProcess& operator=(ServerProcess&&) = delete;
    ServerProcess(const ServerProcess&) = delete;
    ~ServerProcess();

    pid_t Pid() const { return pid_; }
    // Sends the signal to this very process; false when it is gone.
    bool Signal(int signal) const;
    // Whether it has ended (a zombie included).
    bool HasEnded() const;
    // Waits at most `timeout` for the process to end, reaping it when it is a child of this
    // process. True when it has ended.
    bool WaitForEnd(std::chrono::milliseconds timeout) const;

private:
    ServerProcess(pid_t pid, int pidfd) : pid_(pid), pidfd_(pidfd) {}

    pid_t pid_;
    int pidfd_;
};

} // namespace platform::directory
