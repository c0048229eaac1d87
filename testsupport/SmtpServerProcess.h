#pragma once

// "exhost smtp" (or "exhost lmtp") running in the background on a free port or a unix socket,
// for tests and benchmarks that talk to it over the network.

#include <filesystem>
#include <string>
#include <vector>

namespace exhost_test {

class SmtpServerProcess {
public:
    // Starts "exhost COMMAND --root ROOT --listen LISTEN" with the extra arguments and reads the
    // port from its first line of output; a LISTEN that starts with "/" is a unix socket
    // ("--socket LISTEN", no port). Throws when it does not start.
    SmtpServerProcess(const std::string& root, const std::vector<std::string>& extra = {},
                      const std::string& listen = "127.0.0.1:0",
                      const std::string& command = "smtp");
    ~SmtpServerProcess();
    SmtpServerProcess(const SmtpServerProcess&) = delete;
    SmtpServerProcess& operator=(const SmtpServerProcess&) = delete;

    unsigned short Port() const { return port_; }
    int Pid() const { return pid_; }
    void Terminate();
    // Waits for the server to end; returns its exit code (128 + signal when killed).
    int Wait();
    // What it wrote on standard error (complete once it has ended).
    std::string ErrorOutput() const;

private:
    int pid_ = -1;
    int stdoutPipe_ = -1;
    unsigned short port_ = 0;
    std::filesystem::path errorFile_;
};

} // namespace exhost_test
