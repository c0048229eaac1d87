// Starts "exhost smtp" or "exhost lmtp" as a child process, reads the address it listens on and
// stops it with SIGTERM.

#include "testsupport/SmtpServerProcess.h"

#include "platform/core/Text.h"
#include "testsupport/FileText.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace exhost_test {

namespace {

// The first line the server prints, or what it printed before it ended without one.
std::string ReadFirstLine(int fd) {
    std::string line;
    for (;;) {
        pollfd ready{fd, POLLIN, 0};
        // A guard against a server that hangs before printing; not a measurement.
        if (poll(&ready, 1, 60000) <= 0)
            throw std::runtime_error("exhost smtp printed no port");
        char c = 0;
        const auto n = read(fd, &c, 1);
        if (n <= 0)
            throw std::runtime_error("exhost smtp ended before printing its port: " + line);
        if (c == '\n')
            return line;
        line += c;
    }
}

} // namespace

SmtpServerProcess::SmtpServerProcess(const std::string& root, const std::vector<std::string>& extra,
                                     const std::string& listen, const std::string& command) {
    char pattern[] = "/tmp/smtperrXXXXXX";
    const int errorFd = mkstemp(pattern);
    if (errorFd < 0)
        throw std::runtime_error("cannot create a temporary file");
    close(errorFd);
    errorFile_ = pattern;

    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        throw std::runtime_error("cannot create a pipe");
    const bool socket = !listen.empty() && listen.front() == '/';
    std::vector<std::string> arguments = {
        EXHOST_BINARY, command, "--root", root, socket ? "--socket" : "--listen", listen};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    const auto argv = platform::text::NullTerminated(arguments);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    posix_spawn_file_actions_addclose(&actions, pipeFds[1]);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorFile_.c_str(),
                                     O_WRONLY | O_TRUNC, 0600);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    stdoutPipe_ = pipeFds[0];
    if (spawned != 0)
        throw std::runtime_error(std::string("cannot run exhost: ") + std::strerror(spawned));
    pid_ = pid;
    std::string line;
    try {
        line = ReadFirstLine(stdoutPipe_);
        if (socket && line != listen)
            throw std::runtime_error("exhost printed \"" + line + "\", not its socket");
        if (!socket)
            port_ = static_cast<unsigned short>(std::stoul(line));
    } catch (const std::exception& error) {
        Wait();
        throw std::runtime_error(std::string(error.what()) + "; stderr: " + ErrorOutput());
    }
}

SmtpServerProcess::~SmtpServerProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        Wait();
    }
    if (stdoutPipe_ >= 0)
        close(stdoutPipe_);
    std::error_code ignored;
    std::filesystem::remove(errorFile_, ignored);
}

void SmtpServerProcess::Terminate() {
    if (pid_ > 0)
        kill(pid_, SIGTERM);
}

int SmtpServerProcess::Wait() {
    if (pid_ <= 0)
        return -1;
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string SmtpServerProcess::ErrorOutput() const {
    return testsupport::FileText(errorFile_);
}

} // namespace exhost_test
