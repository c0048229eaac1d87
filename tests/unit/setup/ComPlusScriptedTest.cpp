// The COM+ operations against a scripted catalog: what happens when each one of the calls they
// make fails (what they do when nothing fails is tested on the real catalog).

#include "setup/ComPlus.h"
#include "tests/unit/setup/ScriptedPlatform.h"
#include "tests/unit/setup/SetupTestClock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

using namespace lorvanta::setup;
using namespace setuptest;

namespace {

class ComPlusScripted : public ::testing::Test {
protected:
    PinnedClockAndLocale pinned;
    Script script;
    ScriptedPlatform platformDoubles{script};
    TextErrorLog log;
};

TEST(ComPlusPath, ARootCurrentDirectoryGivesTwoSeparators) {
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path("/");
    const auto path = ComponentPath("Lorvanta");
    std::filesystem::current_path(previous);
    EXPECT_EQ(path, "//Lorvanta.dll");
}

class ComPlusFailures : public ComPlusScripted {
protected:
    void CheckEveryFailure(const std::function<void()>& run) {
        run();
        ASSERT_EQ(log.Text(), "") << "the clean run failed";
        const auto trace = script.calls;
        for (std::size_t i = 0; i < trace.size(); ++i) {
            script.calls.clear();
            script.made.clear();
            script.FailAt(trace, i);
            log.SetText("earlier\r\n\r\n");
            const std::string where = "failing " + trace[i] + " (call " + std::to_string(i) + ")";
            run();
            EXPECT_EQ(script.calls,
                      std::vector<std::string>(trace.begin(),
                                               trace.begin() + static_cast<std::ptrdiff_t>(i) + 1))
                << where;
            EXPECT_TRUE(script.AllReleased()) << where;
            EXPECT_EQ(log.Text(), kStamp + " - ERROR: -2147217865 Injected failure of " + trace[i] +
                                      "\r\n\r\nearlier\r\n\r\n")
                << where;
        }
    }
};

TEST_F(ComPlusFailures, FindStopsAtEachCallAndAnswersFalse) {
    script.applications = {"Other", "Lorvanta"};
    bool found = true;
    CheckEveryFailure([&] { found = FindComPlusApp(log, "Lorvanta"); });
    EXPECT_FALSE(found);
}

TEST_F(ComPlusFailures, RemoveStopsAtEachCall) {
    script.applications = {"Other", "Lorvanta"};
    CheckEveryFailure([&] { RemoveComPlusApp(log, "Lorvanta"); });
}

TEST_F(ComPlusFailures, InstallStopsAtEachCall) {
    CheckEveryFailure([&] { InstallComPlusApp(log, "Lorvanta", "EXAMPLE\\svc", "pw"); });
}

} // namespace
