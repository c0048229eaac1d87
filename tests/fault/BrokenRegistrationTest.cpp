// Registrations that cannot run, while the event service runs: saves go on, the event log says
// which one and why, and the others still stamp.
//
// A registration whose criteria cannot be read sits beside the valid "Lorvanta.reg": the valid one
// stamps once (the broken one, which names the same sink, must not run as if it had no criteria).
// The sink's file disappears or is spoilt: stamping comes back with the file. A server that this
// process has loaded once stays loaded, as in-process servers that never agree to unload do: what
// happens to its file afterwards does not reach it.

#include "FaultRoad.h"

#include <fstream>

namespace faulttest {
namespace {

namespace fs = std::filesystem;
using exhost_test::Lines;

// The log of one delivery is one line that names the item and the sink, and holds each of `parts`.
void ExpectOneLine(const std::string& log, const std::string& url,
                   const std::vector<std::string>& parts) {
    const auto lines = Lines(log);
    ASSERT_EQ(lines.size(), 1u) << log;
    // <time> TAB <item URL> TAB <ProgID> TAB <failure>
    EXPECT_NE(lines[0].find("\t" + url + "\t" + kSinkProgId + "\t"), std::string::npos) << lines[0];
    for (const auto& part : parts)
        EXPECT_NE(lines[0].find(part), std::string::npos) << lines[0];
}

using BrokenCriteria = FaultRoad;

// Each broken registration runs first, if it runs at all.
TEST_F(BrokenCriteria, TheBrokenRegistrationIsSkippedAndLoggedTheOthersRun) {
    const struct {
        const char* name;
        std::string criteria;
        const char* logged; // part of the reason the log gives
        // Written over the criteria as a list of texts, as a careless script might leave them.
        platform::Variant::TextArray rewritten = {};
    } rows[] = {
        {"comparison without value", " WHERE \"DAV:ishidden\" = ", "Syntax error"},
        {"WHERE alone", "WHERE", "Syntax error"},
        {"name quote left open", " WHERE \"DAV:ishidden = FALSE", "unterminated name"},
        {"text quote left open", " WHERE \"DAV:ishidden\" = 'false", "unterminated text"},
        {"unknown word operator", " WHERE \"DAV:ishidden\" LIKE FALSE", "Syntax error"},
        {"unknown symbol operator", " WHERE \"DAV:ishidden\" > 0", "unexpected character"},
        {"doubled equals", " WHERE \"DAV:ishidden\" == FALSE", "Syntax error"},
        {"parenthesis left open", " WHERE (\"DAV:ishidden\" = FALSE", "Syntax error"},
        {"integer out of range", " WHERE \"DAV:ishidden\" = 99999999999999999999",
         "integer out of range"},
        {"nested too deep",
         " WHERE " + std::string(50000, '(') + "\"DAV:ishidden\" = FALSE" + std::string(50000, ')'),
         "Syntax error"},
        {"a list of texts",
         " WHERE \"DAV:ishidden\" = FALSE",
         "not one text",
         {"WHERE \"DAV:ishidden\" = TRUE", "WHERE \"DAV:ishidden\" = FALSE"}},
    };
    const auto broken = InboxUrl() + "/Broken.reg";
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        AddRegistration("Broken.reg", row.criteria, 0);
        if (!row.rewritten.empty()) {
            platform::store::PendingSave save;
            save.location = store_->Locate(broken);
            save.properties = store_->Read(save.location).properties;
            save.Set(platform::store::kEventNamespace + "criteria",
                     platform::Variant(row.rewritten));
            store_->Save(save);
        }
        const auto before = EventLog().size();
        const auto url = Deliver(row.name);
        EXPECT_EQ(StampOf(url), OwnerAddress());
        EXPECT_EQ(KeywordsOf(url), OwnerAddress());
        ExpectOneLine(EventLog().substr(before), url, {broken, row.logged});
        store_->Delete(broken);
    }
}

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
        ExpectOneLine(logged, url, {dll_.string(), step.logged});
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
