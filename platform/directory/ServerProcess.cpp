// Finds the directory server's process by its pid only when its program and configuration are
// the server's, and signals and waits for it through a pidfd.

#include "platform/directory/ServerProcess.h"

#include <fcntl.h>
#include <poll.h>
// glibc 2.36's header lacks the C linkage block its other headers have.
extern "C" {
#include <sys/pidfd.h>
}
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace platform::directory {

namespace fs = std::filesystem;

namespace {

// A command line is short; more than this is not one of ours.
constexpr std::size_t kMaxCommandLine = 64 * 1024;

std::optional<std::string> ReadLink(const std::string& path) {
    std::vector<char> buffer(PATH_MAX + 16);
    const auto length = ::readlink(path.c_str(), buffer.data(), buffer.size());
    if (length < 0 || static_cast<std::size_t>(length) >= buffer.size())
        return std::nullopt;
    return std::string(buffer.data(), static_cast<std::size_t>(length));
}

std::optional<std::string> ReadSmallFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::string content;
    char buffer[4096];
    ssize_t count = 0;
    while ((count = ::read(fd, buffer, sizeof buffer)) > 0 && content.size() < kMaxCommandLine)
        content.append(buffer, static_cast<std::size_t>(count));
    ::close(fd);
    if (count < 0)
        return std::nullopt;
    return content;
}

// The program file the kernel names for a process, against the one the server is started from.
bool IsProgram(std::string executable, const fs::path& program) {
    // A program file replaced since the process started (a package upgrade) is still that program.
    constexpr std::string_view deleted = " (deleted)";
    if (executable.ends_with(deleted))
        executable.resize(executable.size() - deleted.size());
    if (!program.has_parent_path())
        return fs::path(executable).filename() == program;
    std::error_code error;
    const auto canonical = fs::canonical(program, error);
    return !error && fs::path(executable) == canonical;
}

// Whether "-f <configFile>" stands among the NUL-separated arguments.
bool NamesConfiguration(const std::string& commandLine, const fs::path& configFile) {
    std::vector<std::string_view> arguments;
    for (std::size_t at = 0; at < commandLine.size();) {
        const auto end = commandLine.find('\0', at);
        const auto stop = end == std::string::npos ? commandLine.size() : end;
        arguments.emplace_back(commandLine.data() + at, stop - at);
        at = stop + 1;
    }
    for (std::size_t i = 0; i + 1 < arguments.size(); ++i)
        if (arguments[i] == "-f" && arguments[i + 1] == configFile.native())
            return true;
    return false;
}

} // namespace

std::optional<ServerProcess> ServerProcess::Find(pid_t pid, const fs::path& program,
                                                 const fs::path& configFile, std::string& why) {
    const auto subject = "the pid file names process " + std::to_string(pid);
    // An ended child of this process is reaped first, so that its pid is not taken for it.
    int status = 0;
    ::waitpid(pid, &status, WNOHANG);
    const int pidfd = ::pidfd_open(pid, 0);
    if (pidfd < 0) {
        why = subject + (errno == ESRCH
                             ? ", which has ended"
                             : ", which cannot be opened: " + std::string(std::strerror(errno)));
        return std::nullopt;
    }
    ServerProcess process(pid, pidfd);
    // A zombie (ended, its parent has not yet waited for it) has ended too.
    if (process.HasEnded()) {
        why = subject + ", which has ended";
        return std::nullopt;
    }
    // Read after the pidfd was opened: while that process still lives, these are its own.
    const auto proc = "/proc/" + std::to_string(pid);
    const auto executable = ReadLink(proc + "/exe");
    if (!executable) {
        why = subject + ", whose program cannot be read (" + std::strerror(errno) +
              "), so it is not taken for this directory server";
        return std::nullopt;
    }
    if (!IsProgram(*executable, program)) {
        why = subject + ", which runs " + *executable + ", not " + program.filename().string();
        return std::nullopt;
    }
    const auto commandLine = ReadSmallFile(proc + "/cmdline");
    if (!commandLine || !NamesConfiguration(*commandLine, configFile)) {
        why = subject + ", a " + program.filename().string() + " that does not run " +
              configFile.string();
        return std::nullopt;
    }
    if (process.HasEnded()) {
        why = subject + ", which has ended";
        return std::nullopt;
    }
    return process;
}

ServerProcess::ServerProcess(ServerProcess&& other) noexcept
    : pid_(other.pid_), pidfd_(other.pidfd_) {
    other.pidfd_ = -1;
}

ServerProcess::~ServerProcess() {
    if (pidfd_ >= 0)
        ::close(pidfd_);
}

bool ServerProcess::Signal(int signal) const {
    return ::pidfd_send_signal(pidfd_, signal, nullptr, 0) == 0;
}

bool ServerProcess::HasEnded() const {
    pollfd ended{pidfd_, POLLIN, 0};
    return ::poll(&ended, 1, 0) > 0;
}

bool ServerProcess::WaitForEnd(std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd ended{pidfd_, POLLIN, 0};
        const int ready =
            ::poll(&ended, 1, static_cast<int>(std::clamp<std::int64_t>(left.count(), 0, INT_MAX)));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        // Readable once it has ended; a child of ours is reaped, anyone else's is left alone.
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        return true;
    }
}

} // namespace platform::directory
