// Registrations that cannot run, while the event service runs: saves go on, the event log says
// which one and why, and the others still stamp.
//
// A registration whose criteria cannot be read sits beside the valid "Lorvanta.reg": the valid one
// stamps once (the broken one, which names the same sink, must not run as if it had no criteria).
// The sink's file disappears or is spoilt: stamping comes back with the file. A server that this
// process has loaded once stays loaded, as in-process servers that never agree to unload do: what
// happens to its file afterwards does not reach it.

#include "FaultRoad.h"
#include "testsupport/FileText.h"

#include "platform/store/PropertyNames.h"

#include <fstream>

namespace faulttest {
namespace {

namespace fs = std::filesystem;
using exhost_test::Lines;

struct BrokenCase {
    const char* name;
    std::string criteria;
    const char* logged; // part of the reason the log gives
    // Written over the criteria as a list of texts, as a careless script might leave them.
    platform::Variant::TextArray rewritten = {};
};

class BrokenCriteria : public FaultRoad, public ::testing::WithParamInterface<BrokenCase> {};

TEST_P(BrokenCriteria, TheBrokenRegistrationIsSkippedAndLoggedTheOthersRun) {
    const auto& param = GetParam();
    // Runs first, if it runs at all.
    AddRegistration("Broken.reg", param.criteria, 0);
    if (!param.rewritten.empty()) {
        platform::store::PendingSave save;
        save.location = store_->Locate(InboxUrl() + "/Broken.reg");
        save.properties = store_->Read(save.location).properties;
        save.Set(platform::store::kEventNamespace + "criteria", platform::Variant(param.rewritten));
        store_->Save(save);
    }

    const auto url = Deliver(param.name);

    EXPECT_EQ(StampOf(url), OwnerAddress());
    EXPECT_EQ(KeywordsOf(url), OwnerAddress());
    const auto lines = Lines(EventLog());
    ASSERT_EQ(lines.size(), 1u) << EventLog();
    EXPECT_NE(lines[0].find("\t" + url + "\t" + kSinkProgId + "\t"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find(InboxUrl() + "/Broken.reg"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find(param.logged), std::string::npos) << lines[0];
}

const BrokenCase kBroken[] = {
    {"ComparisonWithoutValue", " WHERE \"DAV:ishidden\" = ", "Syntax error"},
    {"WhereAlone", "WHERE", "Syntax error"},
    {"NameQuoteLeftOpen", " WHERE \"DAV:ishidden = FALSE", "unterminated name"},
    {"TextQuoteLeftOpen", " WHERE \"DAV:ishidden\" = 'false", "unterminated text"},
    {"UnknownWordOperator", " WHERE \"DAV:ishidden\" LIKE FALSE", "Syntax error"},
    {"UnknownSymbolOperator", " WHERE \"DAV:ishidden\" > 0", "unexpected character"},
    {"DoubledEquals", " WHERE \"DAV:ishidden\" == FALSE", "Syntax error"},
    {"ParenthesisLeftOpen", " WHERE (\"DAV:ishidden\" = FALSE", "Syntax error"},
    {"IntegerOutOfRange", " WHERE \"DAV:ishidden\" = 99999999999999999999", "integer out of range"},
    {"NestedTooDeep",
     " WHERE " + std::string(50000, '(') + "\"DAV:ishidden\" = FALSE" + std::string(50000, ')'),
     "Syntax error"},
    {"ListOfTexts",
     " WHERE \"DAV:ishidden\" = FALSE",
     "not one text",
     {"WHERE \"DAV:ishidden\" = TRUE", "WHERE \"DAV:ishidden\" = FALSE"}}};

INSTANTIATE_TEST_SUITE_P(Criteria, BrokenCriteria, ::testing::ValuesIn(kBroken),
                         [](const auto& info) { return std::string(info.param.name); });

class SinkDllRemoved : public FaultRoad {
public:
    void RemoveDll() { fs::remove(dll_); }
    // Replaces the file by one that is not a shared library, or puts the sink back, the way an
    // installer replaces a file (a new file renamed over the old one).
    void SpoilDll() {
        ReplaceDll(std::string(4096, '\x5a') + "this is not an in-process server\n");
    }
    void PutDllBack() { ReplaceDll(testsupport::FileText(LORVANTA_DLL)); }
    void ReplaceDll(const std::string& content) {
        std::ofstream(dll_.string() + ".new", std::ios::binary) << content;
        fs::rename(dll_.string() + ".new", dll_);
    }
};

TEST_F(SinkDllRemoved, SavesGoOnAndTheLogNamesTheSinkUntilTheFileIsBack) {
    struct Step {
        const char* name;
        void (SinkDllRemoved::*change)();
        const char* logged; // what the log line says besides the sink and the file, or null
    };
    const Step steps[] = {
        {"removed", &SinkDllRemoved::RemoveDll, "No such file"},
        {"spoilt", &SinkDllRemoved::SpoilDll, "invalid ELF header"},
        {"back", &SinkDllRemoved::PutDllBack, nullptr},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        (this->*step.change)();
        const auto logBefore = EventLog().size();
        std::string url;
        ASSERT_NO_THROW(url = Deliver(step.name));
        const auto logged = EventLog().substr(logBefore);
        if (!step.logged) {
            EXPECT_EQ(StampOf(url), OwnerAddress());
            EXPECT_EQ(logged, "");
            continue;
        }
        EXPECT_EQ(StampOf(url), "");
        const auto lines = Lines(logged);
        ASSERT_EQ(lines.size(), 1u) << logged;
        // <time> TAB <item URL> TAB <ProgID> TAB <failure>
        EXPECT_NE(lines[0].find("\t" + url + "\t" + kSinkProgId + "\t"), std::string::npos)
            << lines[0];
        EXPECT_NE(lines[0].find(dll_.string()), std::string::npos) << lines[0];
        EXPECT_NE(lines[0].find(step.logged), std::string::npos) << lines[0];
    }
    EXPECT_EQ(InboxSubjects(), (std::vector<std::string>{"removed", "spoilt", "back"}));
}

TEST_F(SinkDllRemoved, ALoadedSinkKeepsWorkingWhenItsFileGoes) {
    EXPECT_EQ(StampOf(Deliver("loaded")), OwnerAddress());
    RemoveDll();
    EXPECT_EQ(StampOf(Deliver("file removed")), OwnerAddress());
    SpoilDll();
    EXPECT_EQ(StampOf(Deliver("file spoilt")), OwnerAddress());
    EXPECT_EQ(EventLog(), "");
}

} // namespace
} // namespace faulttest
