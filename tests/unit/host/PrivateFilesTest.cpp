// The server folder is its owner's alone whatever the umask: folders 0700, files 0600. Those made
// new are walked on a whole server folder made under umask 000 (PrivateServerFolderTest); here
// those that were there before.

#include "platform/host/PrivateFiles.h"
#include "testsupport/ScopedServerFolder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sys/stat.h>

namespace fs = std::filesystem;
namespace host = platform::host;

namespace {

mode_t ModeOf(const fs::path& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

class PrivateFiles : public ::testing::TestWithParam<mode_t> {
protected:
    void SetUp() override { previousUmask = ::umask(GetParam()); }
    void TearDown() override { ::umask(previousUmask); }
    testsupport::ScopedServerFolder scoped;
    const fs::path root = scoped.Path() / "server";
    mode_t previousUmask = 022;
};

TEST_P(PrivateFiles, ExistingOnesAreMadePrivateAndKeepTheirContent) {
    fs::create_directories(root);
    fs::permissions(root, fs::perms(0755));
    std::ofstream(root / "file") << "kept";
    fs::permissions(root / "file", fs::perms(0644));
    host::CreatePrivateFolder(root);
    host::CreatePrivateFile(root / "file");
    EXPECT_EQ(ModeOf(root), 0700u);
    EXPECT_EQ(ModeOf(root / "file"), 0600u);
    std::ifstream in(root / "file");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "kept");
}

INSTANTIATE_TEST_SUITE_P(Umask, PrivateFiles, ::testing::Values(mode_t{0}, mode_t{022}),
                         [](const auto& info) {
                             char name[16];
                             std::snprintf(name, sizeof name, "Umask%03o", info.param);
                             return std::string(name);
                         });

} // namespace
