// Spawns exhost or another program with its input given and its output collected, and sets up
// the sample server folder most exhost tests start from.

#include "testsupport/ExhostRunner.h"

#include "platform/core/Text.h"
#include "testsupport/FileText.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace exhost_test {

namespace fs = std::filesystem;

RunResult RunExhost(const std::vector<std::string>& arguments, const std::string& rootVariable,
                    const std::string& input) {
    std::vector<std::string> command = {EXHOST_BINARY};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return RunProgram(command, input, rootVariable);
}

RunResult RunProgram(const std::vector<std::string>& command, const std::string& input,
                     const std::string& rootVariable) {
    char pattern[] = "/tmp/exhrunXXXXXX";
    if (!mkdtemp(pattern))
        throw std::runtime_error("cannot create a temporary folder");
    const fs::path outputs = pattern;
    const auto outFile = outputs / "out";
    const auto errFile = outputs / "err";
    const auto inFile = outputs / "in";
    std::ofstream(inFile, std::ios::binary) << input;

    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry)
        if (std::strncmp(*entry, "EXHOST_ROOT=", 12) != 0)
            environment.emplace_back(*entry);
    if (!rootVariable.empty())
        environment.push_back("EXHOST_ROOT=" + rootVariable);
    const auto envp = platform::text::NullTerminated(environment);
    auto arguments = command;
    const auto argv = platform::text::NullTerminated(arguments);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, inFile.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        throw std::runtime_error("cannot run " + command.at(0) + ": " + std::strerror(spawned));
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            throw std::runtime_error("cannot wait for " + command.at(0));
    }
    RunResult result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = testsupport::FileText(outFile);
    result.err = testsupport::FileText(errFile);
    std::error_code ignored;
    fs::remove_all(outputs, ignored);
    return result;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

SampleServer::SampleServer(const platform::directory::SampleDirectorySettings& settings,
                           bool startDirectory)
    : sample(platform::directory::GenerateSampleDirectory(settings)),
      domain_(settings.forestDnsName) {
    Run({"init", "--domain", domain_, "--computer", settings.computerName, "--users",
         std::to_string(settings.users), "--seed", std::to_string(settings.seed)});
    if (startDirectory && problem_.empty())
        Run({"directory", "start"});
}

RunResult SampleServer::Run(std::vector<std::string> arguments) {
    arguments.insert(arguments.end(), {"--root", folder.Root()});
    auto result = RunExhost(arguments);
    if (result.exitCode != 0)
        problem_ += arguments.at(0) + " failed: " + result.err;
    return result;
}

std::string SampleServer::MailboxUrl(const std::string& alias) const {
    return "file://./backofficestorage/" + domain_ + "/mbx/" + alias;
}

std::string SampleServer::Address(std::size_t user) const {
    return sample.localAliases.at(user) + "@" + domain_;
}

void SampleServer::RegisterSink(const std::string& dll, const std::string& alias) {
    if (!sinkRegistered_)
        Run({"regsvr", dll});
    sinkRegistered_ = true;
    Run({"regevent", "add", "--folder", InboxUrl(alias), "--name", "Lorvanta.reg", "--event",
         "onsyncsave", "--sink", "Lorvanta.LorvantaCls", "--scope", "SHALLOW", "--criteria",
         " WHERE \"DAV:ishidden\" = FALSE", "--priority", "1"});
}

RunResult SampleServer::Deliver(const std::vector<std::string>& recipients,
                                const std::string& message, const std::vector<std::string>& extra) {
    const auto file = folder.Path() / ("message" + std::to_string(++messages_) + ".eml");
    std::ofstream(file, std::ios::binary) << message;
    std::vector<std::string> arguments{"deliver"};
    for (const auto& recipient : recipients)
        arguments.insert(arguments.end(), {"--rcpt", recipient});
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    arguments.insert(arguments.end(), {file.string(), "--root", folder.Root()});
    auto result = RunExhost(arguments);
    fs::remove(file);
    return result;
}

} // namespace exhost_test
