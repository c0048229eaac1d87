// The COM+ operations against a scripted catalog: the calls they make, and what happens when
// each one of those calls fails.

#include "setup/ComPlus.h"
#include "tests/unit/setup/ScriptedPlatform.h"
#include "tests/unit/setup/SetupTestClock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

using namespace lorvanta::setup;
using namespace setuptest;
using platform::Variant;

namespace {

using Values = std::vector<std::pair<std::string, Variant>>;

class ComPlusScripted : public ::testing::Test {
protected:
    PinnedClockAndLocale pinned;
    Script script;
    ScriptedPlatform platformDoubles{script};
    TextErrorLog log;
};

TEST_F(ComPlusScripted, FindMatchesWithoutRegardToCaseAndStopsAtTheMatch) {
    script.applications = {"System", "LORVANTA", "Lorvanta", "Other"};
    EXPECT_TRUE(FindComPlusApp(log, "lorvanta"));
    EXPECT_EQ(std::count(script.calls.begin(), script.calls.end(), "Collection.Item"), 2);
    EXPECT_FALSE(FindComPlusApp(log, "Lorvant"));
    EXPECT_EQ(log.Text(), "");
    EXPECT_TRUE(script.AllReleased());
}

TEST_F(ComPlusScripted, RemoveTakesOnlyTheFirstMatchAndSaves) {
    script.applications = {"Other", "Lorvanta", "lorvanta"};
    RemoveComPlusApp(log, "LORVANTA");
    EXPECT_EQ(script.removedIndexes, std::vector<std::int32_t>{1});
    EXPECT_EQ(script.saves, 1);
}

TEST_F(ComPlusScripted, RemoveWithoutAMatchChangesAndLogsNothing) {
    script.applications = {};
    RemoveComPlusApp(log, "Lorvanta");
    EXPECT_TRUE(script.removedIndexes.empty());
    EXPECT_EQ(script.saves, 0);
    EXPECT_EQ(log.Text(), "");
}

TEST_F(ComPlusScripted, InstallWritesTheIdentityOnlyWhenBothAreGiven) {
    struct Case {
        std::string identity, password;
        Values expected;
    };
    const Values base = {{"Name", Variant("Lorvanta")},
                         {"ApplicationAccessChecksEnabled", Variant(false)}};
    auto with = [&](Values more) {
        Values all = base;
        all.insert(all.end(), more.begin(), more.end());
        return all;
    };
    const Case cases[] = {
        {" EXAMPLE\\svc ", "  pw  ",
         with({{"Identity", Variant("EXAMPLE\\svc")}, {"Password", Variant("pw")}})},
        {"EXAMPLE\\svc", "", base},
        {"EXAMPLE\\svc", "   ", base},
        {"   ", "pw", base},
        {"", "", base},
        {"\tEXAMPLE\\svc", "pw\t",
         with({{"Identity", Variant("\tEXAMPLE\\svc")}, {"Password", Variant("pw\t")}})},
    };
    for (const auto& c : cases) {
        script.applicationValues.clear();
        InstallComPlusApp(log, "Lorvanta", c.identity, c.password);
        EXPECT_EQ(script.applicationValues, c.expected) << "[" << c.identity << "]";
    }
    EXPECT_EQ(log.Text(), "");
}

TEST_F(ComPlusScripted, InstallSavesBeforeInstallingTheDllFromTheCurrentDirectory) {
    InstallComPlusApp(log, "Lorvanta", "", "");
    const auto save = std::find(script.calls.begin(), script.calls.end(), "Collection.SaveChanges");
    const auto install =
        std::find(script.calls.begin(), script.calls.end(), "Catalog.InstallComponent");
    EXPECT_LT(save, install);
    EXPECT_EQ(script.installed,
              std::vector<std::string>{"Lorvanta|" + std::filesystem::current_path().string() +
                                       "/Lorvanta.dll||"});
    EXPECT_TRUE(script.AllReleased());
}

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
