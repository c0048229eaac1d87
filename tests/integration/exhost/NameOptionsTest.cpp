// Names where they enter exhost: every bad computer name, DNS domain and mailbox name is refused
// by every option that takes one, naming the option and the rule, and the server folder stays as
// it was; an init that fails on a later step removes what it made.

#include "tests/integration/SampleServerSuite.h"
#include "testsupport/FileText.h"
#include "testsupport/ScopedServerFolder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <sys/stat.h>
#include <vector>

using namespace exhost_test;
using testing::HasSubstr;
using testing::StartsWith;
namespace fs = std::filesystem;

namespace {

// Every name under `root` with its kind, size and time of last change, and each file's
// content: what a refused command must leave as it is. "missing" when there is no root.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
    std::map<std::string, std::string> seen;
    std::error_code error;
    if (!fs::exists(fs::symlink_status(root, error)))
        return {{"", "missing"}};
    for (auto entry = fs::recursive_directory_iterator(root); entry != decltype(entry)(); ++entry) {
        struct stat status {};
        ::lstat(entry->path().c_str(), &status);
        auto& what = seen[fs::relative(entry->path(), root).string()];
        what = std::to_string(status.st_mode) + " " + std::to_string(status.st_size) + " " +
               std::to_string(status.st_mtim.tv_sec) + "." + std::to_string(status.st_mtim.tv_nsec);
        if (entry->path().filename() == "machine.conf")
            what += "\n" + testsupport::FileText(entry->path());
    }
    return seen;
}

// The value as the messages quote it, so that the test finds it in one.
std::string Quoted(const std::string& value) {
    std::string quoted = "\"";
    for (const char c : value)
        quoted += c == '\n' ? std::string("\\n") : std::string(1, c);
    return quoted + "\"";
}

// What the messages call a value of an option (the mailbox name is the argument ALIAS), and the
// values it must refuse. Which names each rule refuses is NameRulesTest's. Here, for each kind, a
// line break that would add a setting of its own to machine.conf, an empty value, a blank at an
// end (which a command line must not trim away) and one more edge show that every option applies
// its rule.
const std::map<std::string, std::pair<std::string, std::vector<std::string>>> kKinds = {
    {"--computer",
     {"computer name",
      {"MAIL01\ndirectory_uri = ldap://evil.example", "", "MAIL01 ", "M\xC3\x84IL"}}},
    {"--domain",
     {"DNS domain",
      {"example.com\ndirectory_uri = ldap://evil.example", "", " example.com",
       std::string(254, 'a')}}},
    {"ALIAS", {"mailbox name", {"x\npostmaster = alice", "", " lead", ".."}}},
};

struct EntryPoint {
    // The command line, "@" standing for the bad value; the folder's --root is added.
    std::vector<std::string> arguments;
    // Run on a folder "exhost init" would make (else on an initialised server folder).
    bool newFolder = false;
    std::string input = {};
};

const std::vector<EntryPoint> kEntryPoints = {
    {{"init", "--users", "1", "--computer", "@"}, true},
    {{"init", "--users", "1", "--domain", "@"}, true},
    {{"init", "--users", "1", "--computer", "@", "--force"}},
    {{"init", "--users", "1", "--domain", "@", "--force"}},
    {{"mailbox", "add", "@"}},
    {{"mailbox", "add", "fine", "--domain", "@"}},
    {{"passwd", "@"}, false, "a-password\n"},
};

// Every bad value through every entry point, each on a folder that must stay as it was: one
// whose parent does not exist either (nothing may be created), or a server folder.
TEST(NameOptions, EveryBadNameIsRefusedByEveryOptionAndTheFolderStaysAsItWas) {
    testsupport::ScopedServerFolder parent;
    SampleServer server(SampleSettings(1), false);
    ASSERT_EQ(server.Problem(), "");
    for (const auto& entry : kEntryPoints) {
        const auto root = entry.newFolder ? parent.Path() / "new" / "server" : server.folder.Path();
        const auto at = std::find(entry.arguments.begin(), entry.arguments.end(), "@");
        const auto option = (at - 1)->starts_with("--") ? *(at - 1) : "ALIAS";
        const auto& [kind, badValues] = kKinds.at(option);
        for (const auto& value : badValues) {
            const auto before = Snapshot(root);
            auto arguments = entry.arguments;
            std::replace(arguments.begin(), arguments.end(), std::string("@"), value);
            SCOPED_TRACE(testing::PrintToString(arguments));
            arguments.insert(arguments.end(), {"--root", root.string()});
            const auto result = RunExhost(arguments, {}, entry.input);
            EXPECT_EQ(result.exitCode, 1) << result.out << result.err;
            EXPECT_THAT(result.err, StartsWith("exhost: " + option + " " + Quoted(value) +
                                               " is not a " + kind + ": it "));
            EXPECT_THAT(result.err, HasSubstr(" (a " + kind)) << "names no rule";
            EXPECT_EQ(Snapshot(root), before) << "changed the folder";
        }
    }
    EXPECT_FALSE(fs::exists(parent.Path() / "new"));
}

TEST(NameOptions, NamesThatDifferOnlyByABlankAtTheEndAreNotTwoMailboxes) {
    SampleServer server(SampleSettings(1), false);
    ASSERT_EQ(server.Problem(), "");
    // Good names at the rules' edges still pass.
    for (const char* alias : {"trail", "sales desk", "j\xC3\xB6rg.new", "o'brien"}) {
        const auto added = server.Run({"mailbox", "add", alias});
        EXPECT_EQ(added.exitCode, 0) << alias << ": " << added.err;
    }
    const auto twin = server.Run({"mailbox", "add", "trail "});
    EXPECT_EQ(twin.exitCode, 1);
    EXPECT_THAT(twin.err, HasSubstr("starts or ends with a blank"));
}

TEST(NameOptions, InitTakesNamesAtTheEdgesOfTheRules) {
    testsupport::ScopedServerFolder folder;
    const auto domain = "xn--bcher-kva." + std::string(63, 'a') + ".example";
    const auto made = RunExhost({"init", "--root", folder.Root(), "--users", "1", "--computer",
                                 "MAIL-0123456789", "--domain", domain});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    EXPECT_THAT(made.out, HasSubstr("computer MAIL-0123456789, domain " + domain));
}

// An init whose later step fails (here: files may not grow past a limit, so the store, the
// directory's load or machine.conf fails) leaves the folder as it was before init.
// Each in a folder it would create, an empty one, and forced over a server.
TEST(InitFailingLater, RemovesWhatItMade) {
    // The file size limits, in the shell's 512-byte blocks: at the first file, in the store and
    // in the directory's load.
    for (const int blocks : {1, 64, 2048}) {
        SCOPED_TRACE(std::to_string(blocks) + " blocks");
        const auto init = [&](const fs::path& root, std::vector<std::string> extra = {}) {
            const auto limited =
                "trap '' XFSZ; ulimit -f " + std::to_string(blocks) + "; exec \"$0\" \"$@\"";
            std::vector<std::string> command = {"/bin/sh",     "-c",      limited,
                                                EXHOST_BINARY, "init",    "--root",
                                                root.string(), "--users", "2"};
            command.insert(command.end(), extra.begin(), extra.end());
            return RunProgram(command);
        };
        testsupport::ScopedServerFolder parent;
        auto failed = init(parent.Path() / "new" / "server");
        EXPECT_EQ(failed.exitCode, 1) << failed.out;
        EXPECT_FALSE(fs::exists(parent.Path() / "new")) << failed.err;

        const auto empty = parent.Path() / "empty";
        fs::create_directory(empty);
        failed = init(empty);
        EXPECT_EQ(failed.exitCode, 1) << failed.out;
        EXPECT_TRUE(fs::is_directory(empty));
        EXPECT_TRUE(fs::is_empty(empty)) << failed.err;

        SampleServer server(SampleSettings(1), false);
        ASSERT_EQ(server.Problem(), "");
        failed = init(server.folder.Path(), {"--force"});
        EXPECT_EQ(failed.exitCode, 1) << failed.out;
        EXPECT_TRUE(fs::is_empty(server.folder.Path())) << failed.err;
    }
}

} // namespace
