// The server folder's machine names file and folder listing, and its files kept private.

#include "platform/host/ServerFolder.h"
#include "platform/host/FileListing.h"
#include "platform/host/PrivateFiles.h"

#include "platform/core/Error.h"
#include "testsupport/FailureOf.h"
#include "testsupport/FileText.h"
#include "testsupport/ScopedServerFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <fstream>

namespace fs = std::filesystem;
using platform::Error;
using platform::host::MachineNames;
using platform::host::ServerFolder;

namespace {

class ServerFolderTest : public ::testing::Test {
protected:
    testsupport::ScopedServerFolder scoped;
    const fs::path root = scoped.Path() / "server"; // not there until a test makes it
};

TEST_F(ServerFolderTest, ReadingAgainSeesEveryChangeOfTheFile) {
    // The names are kept between reads: a file rewritten by someone else (same size, at once)
    // or by this process must still be read anew.
    ServerFolder folder(root);
    folder.WriteMachineNames({"MAIL01", "example.com", "example.com", "dc01", "ldapi://a"});
    EXPECT_EQ(folder.ReadMachineNames().computerName, "MAIL01");
    for (const char* computer : {"MAIL02", "MAIL03"}) {
        std::ofstream(folder.MachineFile())
            << "computer = " << computer << "\ndomain = example.com\n";
        EXPECT_EQ(folder.ReadMachineNames().computerName, computer);
    }
    folder.WriteMachineNames({"MAIL04", "example.com", "example.com", "dc01", "ldapi://b"});
    EXPECT_EQ(folder.ReadMachineNames().directoryUri, "ldapi://b");
    fs::remove(folder.MachineFile());
    EXPECT_THROW(folder.ReadMachineNames(), Error) << "a file that is gone";
}

TEST_F(ServerFolderTest, BadMachineFilesFailWithTheirName) {
    ServerFolder folder(root);
    fs::create_directories(root);
    struct Case {
        const char* content;
        const char* mentions;
    } cases[] = {
        {"computer = A\nno equals sign here\n", "line 2"},
        {"# only a comment\ndomain = x\n", "names no computer"},
        {"computer = A\n\ntake_keywords = maybe\n", "line 3: take_keywords must be yes or no"},
        {"computer = A\nenvelope_recipient_list = 1\n", "line 2: envelope_recipient_list"},
    };
    for (const auto& c : cases) {
        std::ofstream(folder.MachineFile()) << c.content;
        const auto failure = testsupport::FailureOf([&] { folder.ReadMachineNames(); });
        EXPECT_NE(failure.description.find(c.mentions), std::string::npos)
            << c.content << ": " << failure.description;
    }
}

// The mail settings are off unless set; each spelling of yes and no, in any case, is taken.
TEST_F(ServerFolderTest, MailSettingsAreOffUnlessSetAndWrittenBackWhenOn) {
    ServerFolder folder(root);
    fs::create_directories(root);
    const struct {
        const char* lines;
        bool takeKeywords, recipientList;
    } cases[] = {
        {"", false, false},
        {"take_keywords = yes\n", true, false},
        {"take_keywords = On\nenvelope_recipient_list = TRUE\n", true, true},
        {"take_keywords = no\nenvelope_recipient_list = off\n", false, false},
        {"take_keywords = false\nenvelope_recipient_list = yes\n", false, true},
    };
    for (const auto& c : cases) {
        std::ofstream(folder.MachineFile()) << "computer = A\n" << c.lines;
        const auto names = folder.ReadMachineNames();
        const std::pair expected(c.takeKeywords, c.recipientList);
        EXPECT_EQ(std::pair(names.takeKeywords, names.envelopeRecipientList), expected) << c.lines;
        folder.WriteMachineNames(names);
        const auto again = folder.ReadMachineNames();
        EXPECT_EQ(std::pair(again.takeKeywords, again.envelopeRecipientList), expected)
            << "written back: " << c.lines;
    }
}

TEST_F(ServerFolderTest, ListFolderReadsRealFoldersAndPublishedNamespaces) {
    using platform::host::ListFolder;
    fs::create_directories(root / "sub");
    std::ofstream(root / "file.txt") << "x";
    auto names = ListFolder(root.string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"file.txt", "sub"}));

    EXPECT_EQ(testsupport::FailureOf([&] { ListFolder((root / "missing").string()); }).number,
              platform::hr::Code(0x80070003));

    std::string asked;
    platform::host::ScopedNamespace published("\\\\.\\BackOfficeStorage\\", [&](const auto& path) {
        asked = path;
        return std::vector<std::string>{"example.com", "other.org"};
    });
    EXPECT_EQ(ListFolder("\\\\.\\backofficestorage\\"),
              (std::vector<std::string>{"example.com", "other.org"}));
    EXPECT_EQ(asked, "\\\\.\\backofficestorage\\");
}

// A line break in a value would add a setting of its own to machine.conf.
TEST_F(ServerFolderTest, AValueWithALineBreakIsRefusedAndTheFileKept) {
    const ServerFolder folder(root);
    const MachineNames good{"MAIL01",           "example.com",        "example.com",
                            "dc01.example.com", "ldapi://%2Ftmp%2Fx", "postmaster"};
    folder.WriteMachineNames(good);
    const auto before = testsupport::FileText(folder.MachineFile());
    for (const auto value :
         {&MachineNames::computerName, &MachineNames::domainDnsName, &MachineNames::forestDnsName,
          &MachineNames::globalCatalogHost, &MachineNames::directoryUri, &MachineNames::postmaster})
        for (const auto& end : {std::string("\n"), std::string("\r"), std::string(1, '\0')}) {
            auto bad = good;
            bad.*value += end + "directory_uri = ldap://evil.example";
            EXPECT_THROW(folder.WriteMachineNames(bad), Error) << bad.*value;
            EXPECT_EQ(testsupport::FileText(folder.MachineFile()), before) << bad.*value;
        }
    EXPECT_EQ(folder.ReadMachineNames().directoryUri, good.directoryUri);
}

// Those made new are walked on a whole server folder made under umask 000
// (PrivateServerFolderTest); here those that were there before: folders 0700, files 0600.
TEST_F(ServerFolderTest, ExistingFilesAreMadePrivateAndKeepTheirContent) {
    for (const mode_t umask : {0, 022}) {
        const auto previousUmask = ::umask(umask);
        const auto folder = root / std::to_string(umask);
        fs::create_directories(folder);
        fs::permissions(folder, fs::perms(0755));
        std::ofstream(folder / "file") << "kept";
        fs::permissions(folder / "file", fs::perms(0644));
        platform::host::CreatePrivateFolder(folder);
        platform::host::CreatePrivateFile(folder / "file");
        ::umask(previousUmask);
        EXPECT_EQ(testsupport::FileMode(folder), 0700u) << umask;
        EXPECT_EQ(testsupport::FileMode(folder / "file"), 0600u) << umask;
        EXPECT_EQ(testsupport::FileText(folder / "file"), "kept") << umask;
    }
}

} // namespace
