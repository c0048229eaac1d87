// Other local users can read nothing of a server folder: after init, a directory start, a
// registration, a delivery that logs a failure and a COM+ installation under umask 000, every
// folder in it is 0700 and every file 0600.

#include "FaultRoad.h"

#include <sys/stat.h>

namespace faulttest {
namespace {

namespace fs = std::filesystem;

// Opens the umask before the fixture's server folder is made, and restores it after.
struct OpenUmask {
    OpenUmask() : previous(::umask(0)) {}
    ~OpenUmask() { ::umask(previous); }
    mode_t previous;
};

class PrivateServerFolder : private OpenUmask, public FaultRoad {};

TEST_F(PrivateServerFolder, EveryFolderAndFileIsTheOwnersAlone) {
    // A broken registration, so that the delivery writes the event log too.
    AddRegistration("Broken.reg", " WHERE \"DAV:ishidden\" == FALSE", 0);
    Deliver("private");
    const auto installed = exhost_test::RunExhost(
        {"complus", "install", "Lorvanta", dll_.string(), "--root", folder_.Root()});
    ASSERT_EQ(installed.exitCode, 0) << installed.err;
    std::vector<std::string> exposed;
    auto check = [&](const fs::path& path) {
        struct stat status {};
        ASSERT_EQ(::lstat(path.c_str(), &status), 0) << path;
        const auto mode = status.st_mode & 07777;
        const bool folder = S_ISDIR(status.st_mode);
        // The socket's execute bit means nothing; what counts is that no one else may connect.
        const bool fine = folder ? mode == 0700 : (mode & ~0100u) == 0600;
        if (!fine)
            exposed.push_back(path.string() + " " + std::to_string(mode >> 6) +
                              std::to_string((mode >> 3) & 7) + std::to_string(mode & 7));
    };
    check(folder_.Path());
    for (const auto& entry : fs::recursive_directory_iterator(folder_.Path()))
        if (entry.path() != dll_) // the test's own copy of the sink
            check(entry.path());
    EXPECT_TRUE(exposed.empty()) << ::testing::PrintToString(exposed);
    // The walk saw the store, the class registry and the directory's files.
    for (const auto* file :
         {"store/store.db", "com/classes", "complus/applications", "directory/data/data.mdb",
          "directory/slapd.conf", "directory/ldapi", "machine.conf"})
        EXPECT_TRUE(fs::exists(folder_.Path() / file)) << file;
}

} // namespace
} // namespace faulttest
