// The registration item operations against scripted doubles: what happens when each one of the
// calls they make fails (what they do when nothing fails is tested on the real store).

#include "setup/Items.h"
#include "tests/unit/setup/ScriptedPlatform.h"
#include "tests/unit/setup/SetupTestClock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

using namespace lorvanta::setup;
using namespace setuptest;

namespace {

const std::string kMailbox = "file://./backofficestorage/example.com/MBX/alice";
const std::string kCriteria = " WHERE \"DAV:ishidden\" = FALSE";
const std::string kExtra = " AND \"DAV:ishidden\" = true AND \"DAV:isfolder\" = false ";

int LogLines(const std::string& text) {
    int lines = 0;
    for (auto at = text.find("\r\n\r\n"); at != std::string::npos;
         at = text.find("\r\n\r\n", at + 4))
        ++lines;
    return lines;
}

class ItemsScripted : public ::testing::Test {
protected:
    std::string Create(const std::string& folderName = "inbox", bool logErrors = true) {
        return CreateEventRegistration(log, kMailbox, folderName, "Lorvanta.reg", "onsyncsave",
                                       "Lorvanta.LorvantaCls", "SHALLOW", kCriteria, "1",
                                       logErrors);
    }
    bool Delete(const std::string& folderName = "inbox", bool logErrors = true) {
        return DeleteEventRegistration(log, kMailbox, folderName, "Lorvanta.reg", logErrors);
    }
    std::int16_t Find(std::shared_ptr<platform::ado::Connection>& connection,
                      const std::string& folderName = "inbox", bool logErrors = true) {
        return FindEventRegistration(log, kMailbox, folderName, "Lorvanta.reg", kExtra, logErrors,
                                     connection);
    }
    std::int16_t Find() {
        std::shared_ptr<platform::ado::Connection> none;
        return Find(none);
    }

    PinnedClockAndLocale pinned;
    Script script;
    ScriptedPlatform platformDoubles{script};
    TextErrorLog log;
};

class ItemsFailures : public ItemsScripted {
protected:
    // Runs the operation once to learn its calls (`run` answers whether it failed), then once
    // per call with that call failing. `closingCalls` trailing calls are closing steps.
    void CheckEveryFailure(const std::function<bool()>& run, bool closesConnection,
                           std::size_t closingCalls = 0) {
        ASSERT_FALSE(run()) << "the clean run failed";
        const auto trace = script.calls;
        ASSERT_TRUE(script.AllReleased());
        for (std::size_t i = 0; i + closingCalls < trace.size(); ++i) {
            script.calls.clear();
            script.made.clear();
            script.FailAt(trace, i);
            log.SetText("earlier\r\n\r\n");
            const std::string where = "failing " + trace[i] + " (call " + std::to_string(i) + ")";
            EXPECT_TRUE(run()) << where;
            // Nothing after the failing call, except closing the connection where that is a
            // closing step.
            std::vector<std::string> after(
                script.calls.begin() +
                    static_cast<std::ptrdiff_t>(std::min(i + 1, script.calls.size())),
                script.calls.end());
            ASSERT_GE(script.calls.size(), i + 1) << where;
            EXPECT_TRUE(std::equal(trace.begin(),
                                   trace.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                                   script.calls.begin()))
                << where;
            const bool connectionOpen =
                std::count(script.calls.begin(),
                           script.calls.begin() + static_cast<std::ptrdiff_t>(i),
                           "Connection.Open") > 0 &&
                trace[i] != "Connection.Close";
            if (closesConnection && connectionOpen)
                EXPECT_EQ(after, std::vector<std::string>{"Connection.Close"}) << where;
            else
                EXPECT_TRUE(after.empty()) << where << ": then " << after.front();
            EXPECT_TRUE(script.AllReleased()) << where;
            EXPECT_EQ(LogLines(log.Text()), 2) << where;
            EXPECT_EQ(log.Text().rfind("[", 0), 0u) << where;
            EXPECT_NE(log.Text().find(" - ERROR: -2147217865 Injected failure of " + trace[i] +
                                      "\r\n\r\nearlier\r\n\r\n"),
                      std::string::npos)
                << where;
        }
    }
};

TEST_F(ItemsFailures, CreateStopsAtEachCall) {
    CheckEveryFailure([&] { return Create().empty(); }, false);
}

TEST_F(ItemsFailures, DeleteStopsAtEachCall) {
    CheckEveryFailure([&] { return !Delete(); }, false);
}

TEST_F(ItemsFailures, FindStopsAtEachCall) {
    CheckEveryFailure([&] { return Find() == -1; }, true, 1);
}

TEST_F(ItemsFailures, FindIgnoresAFailureToCloseTheConnectionAtTheEnd) {
    ASSERT_EQ(Find(), 1);
    ASSERT_EQ(script.calls.back(), "Connection.Close");
    script.FailAt(script.calls, script.calls.size() - 1);
    script.calls.clear();
    EXPECT_EQ(Find(), 1);
    EXPECT_EQ(log.Text(), "");
    EXPECT_TRUE(script.AllReleased());
}

TEST_F(ItemsFailures, WithoutLoggingAFailureShowsOnlyInTheResult) {
    script.failCall = "Record.Open";
    script.failOccurrence = 2;
    EXPECT_EQ(Create("inbox", false), "");
    script.calls.clear();
    EXPECT_FALSE(Delete("inbox", false));
    script.calls.clear();
    std::shared_ptr<platform::ado::Connection> none;
    EXPECT_EQ(Find(none, "inbox", false), -1);
    EXPECT_EQ(log.Text(), "");
}

TEST_F(ItemsFailures, TheSubjectIsTheArgumentForCreateAndDeleteButTheWorkingUrlForFind) {
    script.failCall = "Record.Open";
    script.failOccurrence = 2;
    Create();
    EXPECT_EQ(log.Text().find(kStamp + kMailbox + " - ERROR: "), 0u) << log.Text();
    log.SetText("");
    script.calls.clear();
    Delete();
    EXPECT_EQ(log.Text().find(kStamp + kMailbox + " - ERROR: "), 0u) << log.Text();
    log.SetText("");
    script.calls.clear();
    Find();
    EXPECT_EQ(log.Text().find(kStamp + script.inboxUrl + " - ERROR: "), 0u) << log.Text();
    log.SetText("");
    script.calls.clear();
    // Without the Inbox lookup the folder record is the first one opened.
    script.failOccurrence = 1;
    std::shared_ptr<platform::ado::Connection> none;
    Find(none, "Calendar");
    EXPECT_EQ(log.Text().find(kStamp + kMailbox + "/Calendar - ERROR: "), 0u) << log.Text();
}

TEST_F(ItemsFailures, FindWithoutObjectsStillReturnsMinusOne) {
    script.failCall = "Create ADODB.Connection";
    script.failOccurrence = 1;
    EXPECT_EQ(Find(), -1);
    EXPECT_EQ(LogLines(log.Text()), 1);
}

} // namespace
