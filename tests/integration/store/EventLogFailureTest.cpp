// An event log that cannot be written is reported, once until it can be written again: on
// standard error, or to whoever the process named (a server's own log).

#include "TempStore.h"

#include "platform/store/EventService.h"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace storetest {
namespace {

namespace fs = std::filesystem;
using platform::store::SetEventLogFailureReporter;
using platform::store::WriteEventLog;

class EventLogFailure : public TempStore {
protected:
    void TearDown() override {
        SetEventLogFailureReporter({});
        TempStore::TearDown();
    }
    // The log's file turns into a directory, which no write can append to (root included).
    void Break() {
        fs::remove_all(store->EventLogFile());
        fs::create_directory(store->EventLogFile());
    }
    void Repair() { fs::remove_all(store->EventLogFile()); }
    void Write(const std::string& failure) {
        WriteEventLog(*store, kInbox + "/a.eml", "Some.Sink", failure);
    }
};

TEST_F(EventLogFailure, IsReportedOnceUntilAWriteWorksAgain) {
    std::vector<std::pair<std::string, std::string>> reported;
    SetEventLogFailureReporter([&](const std::string& path, const std::string& reason) {
        reported.emplace_back(path, reason);
    });
    Break();
    for (int i = 0; i < 5; ++i)
        Write("lost " + std::to_string(i));
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_EQ(reported[0].first, store->EventLogFile().string());
    EXPECT_EQ(reported[0].second, "Is a directory");

    Repair();
    Write("kept");
    EXPECT_NE(testsupport::FileText(store->EventLogFile()).find("\tkept\n"), std::string::npos);
    EXPECT_EQ(reported.size(), 1u);
    Break();
    Write("lost again");
    Write("and again");
    EXPECT_EQ(reported.size(), 2u) << "a new failure after a line was written";
}

// Without a reporter the process's standard error hears of it.
TEST_F(EventLogFailure, GoesToStandardErrorByDefault) {
    const auto captured = root / "stderr.txt";
    const int saved = ::dup(STDERR_FILENO);
    const int file = ::open(captured.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(file, 0);
    ::dup2(file, STDERR_FILENO);
    ::close(file);
    Break();
    Write("lost");
    Write("lost too");
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    const auto text = testsupport::FileText(captured);
    EXPECT_NE(text.find(store->EventLogFile().string()), std::string::npos) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
}

} // namespace
} // namespace storetest
