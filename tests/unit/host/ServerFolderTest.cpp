// The server folder's machine names file and folder listing, read by the sink, the setup
// program and exhost alike.

#include "platform/host/ServerFolder.h"
#include "platform/host/FileListing.h"

#include "platform/core/Error.h"
#include "testsupport/FailureOf.h"
#include "testsupport/ScopedServerFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace fs = std::filesystem;
using platform::Error;
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
        EXPECT_EQ(names.takeKeywords, c.takeKeywords) << c.lines;
        EXPECT_EQ(names.envelopeRecipientList, c.recipientList) << c.lines;
        folder.WriteMachineNames(names);
        const auto again = folder.ReadMachineNames();
        EXPECT_EQ(again.takeKeywords, c.takeKeywords) << "written back: " << c.lines;
        EXPECT_EQ(again.envelopeRecipientList, c.recipientList) << "written back: " << c.lines;
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

} // namespace
