// The setup modules (registration items, COM+) with each call they make failed in turn: they stop
// there, release what they made and log the failure once. (Without failures: real store, catalog.)
// And the log's stamp: the regional settings' general date and time format.

#include "setup/ComPlus.h"
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
const std::string kExtra = " AND \"DAV:ishidden\" = true AND \"DAV:isfolder\" = false ";

int LogLines(const std::string& text) {
    int lines = 0;
    for (auto at = text.find("\r\n\r\n"); at != std::string::npos;
         at = text.find("\r\n\r\n", at + 4))
        ++lines;
    return lines;
}

TEST(ErrorLog, GeneralDateFollowsTheLocaleAndDropsTheTimeAtMidnight) {
    struct Case {
        QLocale locale;
        QTime time;
        std::string expected;
    };
    const Case cases[] = {
        {QLocale(QLocale::English, QLocale::UnitedStates), QTime(20, 34, 7), "12/6/26 8:34:07 PM"},
        {QLocale(QLocale::English, QLocale::UnitedStates), QTime(0, 0, 0), "12/6/26"},
        {QLocale(QLocale::English, QLocale::UnitedStates), QTime(0, 0, 1), "12/6/26 12:00:01 AM"},
        {QLocale(QLocale::German, QLocale::Germany), QTime(20, 34, 7), "06.12.26 20:34:07"},
        {QLocale(QLocale::German, QLocale::Germany), QTime(0, 0, 0), "06.12.26"},
    };
    for (const auto& c : cases) {
        PinnedClockAndLocale pinned(QDateTime(QDate(2026, 12, 6), c.time), c.locale);
        EXPECT_EQ(GeneralDateTime(LocalNow()), c.expected) << c.locale.name().toStdString();
    }
}

class ModuleFailures : public ::testing::Test {
protected:
    std::string Create() {
        return CreateEventRegistration(log, kMailbox, "inbox", "Lorvanta.reg", "onsyncsave",
                                       "Lorvanta.LorvantaCls", "SHALLOW", "", "1", true);
    }
    bool Delete() { return DeleteEventRegistration(log, kMailbox, "inbox", "Lorvanta.reg", true); }
    std::int16_t Find() {
        std::shared_ptr<platform::ado::Connection> none;
        return FindEventRegistration(log, kMailbox, "inbox", "Lorvanta.reg", kExtra, true, none);
    }
    bool Logged() const { return log.Text().find("Injected failure") != std::string::npos; }

    // Runs the operation once to learn its calls (`failed` answers whether it reported a
    // failure), then once per call with that call failing. The last `closingCalls` calls are
    // closing steps; where `closesConnection`, an open connection is still closed after a failure.
    void CheckEveryFailure(const std::function<bool()>& failed, bool closesConnection = false,
                           std::size_t closingCalls = 0) {
        ASSERT_FALSE(failed()) << "the clean run failed";
        const auto trace = script.calls;
        ASSERT_TRUE(script.AllReleased());
        for (std::size_t i = 0; i + closingCalls < trace.size(); ++i) {
            script.calls.clear();
            script.made.clear();
            script.FailAt(trace, i);
            log.SetText("earlier\r\n\r\n");
            const std::string where = "failing " + trace[i] + " (call " + std::to_string(i) + ")";
            EXPECT_TRUE(failed()) << where;
            ASSERT_GE(script.calls.size(), i + 1) << where;
            const auto end = script.calls.begin() + static_cast<std::ptrdiff_t>(i) + 1;
            EXPECT_TRUE(std::equal(script.calls.begin(), end, trace.begin())) << where;
            const std::vector<std::string> after(end, script.calls.end());
            const bool connectionOpen =
                std::count(script.calls.begin(), end - 1, "Connection.Open") > 0 &&
                trace[i] != "Connection.Close";
            if (closesConnection && connectionOpen)
                EXPECT_EQ(after, std::vector<std::string>{"Connection.Close"}) << where;
            else
                EXPECT_TRUE(after.empty()) << where << ": then " << after.front();
            EXPECT_TRUE(script.AllReleased()) << where;
            EXPECT_EQ(LogLines(log.Text()), 2) << where;
            EXPECT_NE(log.Text().find(" - ERROR: -2147217865 Injected failure of " + trace[i] +
                                      "\r\n\r\nearlier\r\n\r\n"),
                      std::string::npos)
                << where;
        }
    }

    PinnedClockAndLocale pinned;
    Script script;
    ScriptedPlatform platformDoubles{script};
    TextErrorLog log;
};

TEST_F(ModuleFailures, CreateRegistrationStopsAtEachCall) {
    CheckEveryFailure([&] { return Create().empty(); });
}

TEST_F(ModuleFailures, DeleteRegistrationStopsAtEachCall) {
    CheckEveryFailure([&] { return !Delete(); });
}

TEST_F(ModuleFailures, FindRegistrationStopsAtEachCallButClosesTheConnection) {
    CheckEveryFailure([&] { return Find() == -1; }, true, 1);
}

TEST_F(ModuleFailures, FindIgnoresAFailureToCloseTheConnectionAtTheEnd) {
    ASSERT_EQ(Find(), 1);
    ASSERT_EQ(script.calls.back(), "Connection.Close");
    script.FailAt(script.calls, script.calls.size() - 1);
    script.calls.clear();
    EXPECT_EQ(Find(), 1);
    EXPECT_EQ(log.Text(), "");
    EXPECT_TRUE(script.AllReleased());
}

TEST_F(ModuleFailures, FindComPlusAppStopsAtEachCallAndAnswersFalse) {
    script.applications = {"Other", "Lorvanta"};
    CheckEveryFailure([&] { return !FindComPlusApp(log, "Lorvanta"); });
}

TEST_F(ModuleFailures, RemoveComPlusAppStopsAtEachCall) {
    script.applications = {"Other", "Lorvanta"};
    CheckEveryFailure([&] {
        RemoveComPlusApp(log, "Lorvanta");
        return Logged();
    });
}

TEST_F(ModuleFailures, InstallComPlusAppStopsAtEachCall) {
    CheckEveryFailure([&] {
        InstallComPlusApp(log, "Lorvanta", "EXAMPLE\\svc", "pw");
        return Logged();
    });
}

} // namespace
