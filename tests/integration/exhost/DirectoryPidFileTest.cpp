// A pid file left by a directory server that died, whose pid another process has since: status,
// stop, start and init --force take the server for stopped and never signal that process, be it
// any program or the directory server of another folder.

#include "tests/integration/SampleServerSuite.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>

using namespace exhost_test;
namespace fs = std::filesystem;

namespace {

// exhost on the folder, bounded in time: a stop that waits for a process it should never have
// signalled must fail the test, not hang it.
RunResult RunOn(const std::string& root, std::vector<std::string> arguments) {
    std::vector<std::string> command = {"/usr/bin/timeout", "-k", "5", "60", EXHOST_BINARY};
    command.insert(command.end(), arguments.begin(), arguments.end());
    command.push_back("--root");
    command.push_back(root);
    return RunProgram(command);
}

// A process whose pid ends up in the pid file.
class Bystander {
public:
    virtual ~Bystander() = default;
    virtual pid_t Pid() const = 0;
    // Empty while it runs as it did, else what happened to it.
    virtual std::string Harm() const = 0;
};

// Any program: a sleep the shell leaves behind, which no process of the test waits for, so that
// it ends early only by a signal.
class SleepingProgram : public Bystander {
public:
    SleepingProgram()
        : pid_(std::stoi(
              RunProgram({"/bin/sh", "-c", "sleep 300 </dev/null >/dev/null 2>&1 & echo $!"})
                  .out)) {}
    ~SleepingProgram() override { kill(pid_, SIGKILL); }
    pid_t Pid() const override { return pid_; }
    std::string Harm() const override {
        // Ended, and maybe not yet reaped: a zombie's state in its stat line is "Z".
        std::string stat;
        std::getline(std::ifstream("/proc/" + std::to_string(pid_) + "/stat"), stat);
        return stat.empty() || stat.substr(stat.rfind(") ") + 2, 1) == "Z" ? "ended" : "";
    }

private:
    pid_t pid_;
};

// The directory server of another server folder: slapd, only with another configuration.
class OtherFoldersServer : public Bystander {
public:
    OtherFoldersServer() : other_(SampleSettings(1)) {
        if (!other_.Problem().empty())
            throw std::runtime_error(other_.Problem());
        std::ifstream(other_.folder.Path() / "directory" / "slapd.pid") >> pid_;
    }
    pid_t Pid() const override { return pid_; }
    std::string Harm() const override {
        const auto status = RunOn(other_.folder.Root(), {"directory", "status"});
        const auto running = "running (pid " + std::to_string(pid_) + ")";
        return status.out.find(running) == std::string::npos ? "now: " + status.out : "";
    }

private:
    SampleServer other_;
    pid_t pid_ = 0;
};

// Runs the admin commands on a folder whose pid file names `bystander`.
void ExpectNeverTakenForTheServerNorSignalled(const Bystander& bystander) {
    SampleServer server(SampleSettings(2), false);
    ASSERT_EQ(server.Problem(), "");
    const auto root = server.folder.Root();
    const auto pidFile = server.folder.Path() / "directory" / "slapd.pid";
    const auto planted = std::to_string(bystander.Pid());

    struct Step {
        std::vector<std::string> command;
        int exitCode;
        std::string saying;
        bool plantFirst;
    };
    const std::vector<Step> steps = {
        {{"directory", "status"}, 3, "stopped (the pid file names process " + planted, true},
        {{"directory", "stop"}, 0, "directory server was not running (the pid file names", true},
        {{"directory", "start"}, 0, "directory server running (pid ", true},
        {{"directory", "status"}, 0, "running (pid ", false},
        {{"directory", "stop"}, 0, "directory server stopped", false},
        {{"init", "--force", "--users", "2"}, 0, "Server folder", true},
        {{"directory", "status"}, 3, "stopped", false},
    };
    for (const auto& step : steps) {
        const auto said = step.command.at(0) + " " + step.command.at(1);
        if (step.plantFirst)
            std::ofstream(pidFile) << planted << "\n";
        const auto result = RunOn(root, step.command);
        EXPECT_EQ(result.exitCode, step.exitCode) << said << "\n" << result.out << result.err;
        EXPECT_NE(result.out.find(step.saying), std::string::npos) << said << "\n" << result.out;
        EXPECT_EQ(result.out.find("(pid " + planted + ")"), std::string::npos)
            << said << " took process " << planted << " for the server:\n"
            << result.out;
        EXPECT_EQ(bystander.Harm(), "") << "after " << said;
    }
}

TEST(StalePidFile, NamingAnyProgram) {
    ExpectNeverTakenForTheServerNorSignalled(SleepingProgram());
}

TEST(StalePidFile, NamingTheDirectoryServerOfAnotherFolder) {
    ExpectNeverTakenForTheServerNorSignalled(OtherFoldersServer());
}

} // namespace
