// A pid file left by a directory server that died, whose pid another process has since: status,
// stop, start and init --force take the server for stopped and never signal that process, be it
// any program or the directory server of another folder.

#include "tests/integration/SampleServerSuite.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <functional>

using namespace exhost_test;
using testing::HasSubstr;
using testing::Not;

namespace {

// exhost on the folder, bounded in time: a stop that waits for a process it should never have
// signalled must fail the test, not hang it.
RunResult RunOn(const std::string& root, std::vector<std::string> arguments) {
    std::vector<std::string> command = {"/usr/bin/timeout", "-k", "5", "60", EXHOST_BINARY};
    command.insert(command.end(), arguments.begin(), arguments.end());
    command.insert(command.end(), {"--root", root});
    return RunProgram(command);
}

// Runs the admin commands on a folder whose pid file names process `pid`; `harm` says what
// happened to that process ("" while it runs as it did).
void ExpectNeverTakenForTheServerNorSignalled(pid_t pid, const std::function<std::string()>& harm) {
    SampleServer server(SampleSettings(2), false);
    ASSERT_EQ(server.Problem(), "");
    const auto root = server.folder.Root();
    const auto pidFile = server.folder.Path() / "directory" / "slapd.pid";
    const auto planted = std::to_string(pid);

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
        SCOPED_TRACE(step.command.at(0) + " " + step.command.at(1));
        if (step.plantFirst)
            std::ofstream(pidFile) << planted << "\n";
        const auto result = RunOn(root, step.command);
        EXPECT_EQ(result.exitCode, step.exitCode) << result.out << result.err;
        EXPECT_THAT(result.out, HasSubstr(step.saying));
        EXPECT_THAT(result.out, Not(HasSubstr("(pid " + planted + ")"))) << "taken for the server";
        EXPECT_EQ(harm(), "");
    }
}

// Any program: a sleep the shell leaves behind, which no process of the test waits for, so that
// it ends early only by a signal.
TEST(StalePidFile, NamingAnyProgram) {
    const pid_t pid = std::stoi(
        RunProgram({"/bin/sh", "-c", "sleep 300 </dev/null >/dev/null 2>&1 & echo $!"}).out);
    ExpectNeverTakenForTheServerNorSignalled(pid, [pid] {
        // Ended, and maybe not yet reaped: a zombie's state in its stat line is "Z".
        std::string stat;
        std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/stat"), stat);
        return stat.empty() || stat.substr(stat.rfind(") ") + 2, 1) == "Z" ? "ended" : "";
    });
    kill(pid, SIGKILL);
}

// The directory server of another server folder: slapd, only with another configuration.
TEST(StalePidFile, NamingTheDirectoryServerOfAnotherFolder) {
    SampleServer other(SampleSettings(1));
    ASSERT_EQ(other.Problem(), "");
    pid_t pid = 0;
    std::ifstream(other.folder.Path() / "directory" / "slapd.pid") >> pid;
    ExpectNeverTakenForTheServerNorSignalled(pid, [&] {
        const auto status = RunOn(other.folder.Root(), {"directory", "status"});
        const auto running = "running (pid " + std::to_string(pid) + ")";
        return status.out.find(running) == std::string::npos ? "now: " + status.out : "";
    });
}

} // namespace
