// The sink's file disappears or is spoilt while the event service runs: saves go on, the event
// log says which sink could not be loaded and why, and stamping comes back with the file.
// A server that this process has loaded once stays loaded, as in-process servers that never
// agree to unload do: what happens to its file afterwards does not reach it.

#include "FaultRoad.h"
#include "testsupport/FileText.h"

#include <fstream>

namespace faulttest {
namespace {

namespace fs = std::filesystem;
using exhost_test::Lines;

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
