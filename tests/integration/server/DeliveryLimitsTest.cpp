// Mail of every size the front accepts, for one mailbox up to the most recipients a message may
// name, alone and from many sessions at once, through "exhost smtp" and "exhost deliver", into a
// store that already holds 10,000 messages: every message is stored once for each mailbox and
// nothing is refused. A disk that really fills up still refuses, and keeps nothing.

#include "server/smtp/SmtpClient.h"
#include "tests/integration/AtOnce.h"
#include "tests/integration/SampleServerSuite.h"
#include "testsupport/PaddedMessage.h"
#include "testsupport/PeakMemory.h"
#include "testsupport/SmtpServerProcess.h"

#include "platform/store/Delivery.h"
#include "platform/store/PropertyNames.h"

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

#include <iostream>
#include <memory>

using namespace exhost_test;
namespace fs = std::filesystem;

namespace {

constexpr std::size_t kKB = 1024, kMB = 1024 * 1024;
// The front's limit for this test: above the largest row's message.
constexpr std::size_t kMaxSize = 25 * kMB;
constexpr int kMessagesAlreadyStored = 10000;

enum class Road { Smtp, Deliver };

struct Row {
    Road road;
    std::size_t size;
    int mailboxes;
    int sessions; // SMTP sessions, or "exhost deliver" processes, at once
    int messagesEach;
};

std::string RowName(const Row& row) {
    const auto size = row.size >= kMB ? std::to_string(row.size / kMB) + " MB"
                                      : std::to_string(row.size / kKB) + " KB";
    return std::string(row.road == Road::Smtp ? "smtp" : "deliver") + " " + size + " x " +
           std::to_string(row.mailboxes) + " mailboxes x " + std::to_string(row.sessions) +
           " sessions x " + std::to_string(row.messagesEach);
}

std::string Message(const std::string& subject, const std::string& to, std::size_t size) {
    return testsupport::PaddedMessage("From: sender@partner.example\r\nTo: " + to +
                                          "\r\nSubject: " + subject + "\r\n\r\nHello.\r\n",
                                      size);
}

// How many of the messages have each subject that starts with `prefix` (none: "").
std::map<std::string, int> Subjects(const std::vector<platform::store::Item>& items,
                                    const std::string& prefix = "") {
    std::map<std::string, int> subjects;
    for (const auto& item : items) {
        const auto found = item.properties.find(platform::store::kSubject);
        const auto subject = found == item.properties.end() ? "" : found->second.ToText();
        if (subject.starts_with(prefix))
            ++subjects[subject];
    }
    return subjects;
}

class DeliveryLimits : public SampleServerSuite<DeliveryLimits> {
public:
    static platform::directory::SampleDirectorySettings Settings() {
        return SampleSettings(110, "limits.test", 5);
    }

protected:
    static void SetUpTestSuite() {
        SampleServerSuite::SetUpTestSuite();
        if (!server->Problem().empty())
            return;
        FillStore();
        // The sink runs for the first mailboxes, as on a server where it is switched on.
        for (std::size_t user = 0; user < 3; ++user)
            server->RegisterSink(LORVANTA_DLL, server->sample.localAliases.at(user));
    }

    // 10,000 small messages spread over the mailboxes, written in one transaction.
    static void FillStore() {
        auto store = OpenStore();
        const auto& aliases = server->sample.localAliases;
        store->BeginTransaction();
        for (int i = 0; i < kMessagesAlreadyStored; ++i) {
            const auto& alias = aliases[static_cast<std::size_t>(i) % aliases.size()];
            platform::store::DeliverMessage(
                *store, server->MailboxUrl(alias),
                Message("earlier " + std::to_string(i), alias + "@limits.test", 1500));
        }
        store->CommitTransaction();
    }

    static std::vector<std::string> Recipients(int count) {
        std::vector<std::string> addresses;
        for (int user = 0; user < count; ++user)
            addresses.push_back(server->Address(static_cast<std::size_t>(user)));
        return addresses;
    }

    // How many messages of each of the first `count` mailboxes have a subject that starts with
    // `prefix`.
    static std::vector<int> StoredWith(const std::string& prefix, int count) {
        std::vector<int> counts;
        for (int user = 0; user < count; ++user) {
            int found = 0;
            for (const auto& [subject, copies] : Subjects(
                     Inbox(server->sample.localAliases.at(static_cast<std::size_t>(user))), prefix))
                found += copies;
            counts.push_back(found);
        }
        return counts;
    }
};

TEST_F(DeliveryLimits, EverySizeForEveryMailboxCountIsStoredOnceAtEveryConcurrency) {
    const std::vector<Row> rows{
        {Road::Smtp, 1 * kKB, 100, 10, 1},   {Road::Smtp, 400 * kKB, 1, 10, 5},
        {Road::Smtp, 1 * kMB, 2, 1, 1},      {Road::Smtp, 1 * kMB, 24, 1, 1},
        {Road::Smtp, 400 * kKB, 24, 10, 1},  {Road::Smtp, 20 * kMB, 3, 10, 1},
        {Road::Deliver, 1 * kKB, 24, 1, 1},  {Road::Deliver, 1 * kMB, 2, 1, 1},
        {Road::Deliver, 1 * kMB, 100, 1, 1}, {Road::Deliver, 3 * kMB, 3, 10, 1},
        {Road::Deliver, 20 * kMB, 3, 1, 1},
    };
    for (const auto& row : rows) {
        const auto name = RowName(row);
        SCOPED_TRACE(name);
        const auto recipients = Recipients(row.mailboxes);
        std::unique_ptr<SmtpServerProcess> smtp;
        if (row.road == Road::Smtp)
            smtp = std::make_unique<SmtpServerProcess>(
                Root(), std::vector<std::string>{"--max-size", std::to_string(kMaxSize)});
        const auto failures = integration::AtOnce(row.sessions, [&](int session) -> std::string {
            std::unique_ptr<server::smtp::Client> client;
            if (smtp) {
                client = std::make_unique<server::smtp::Client>("127.0.0.1", smtp->Port());
                client->Command("EHLO limits.test");
            }
            for (int i = 0; i < row.messagesEach; ++i) {
                const auto subject =
                    name + " #" + std::to_string(session) + "." + std::to_string(i);
                const auto message = Message(subject, recipients.front(), row.size);
                if (client) {
                    const auto reply = client->Deliver("s@partner.example", recipients, message);
                    if (reply.code != 250)
                        return subject + ": " + reply.Wire();
                } else if (const auto result = server->Deliver(recipients, message);
                           result.exitCode != 0) {
                    return subject + ": " + result.err;
                }
            }
            return "";
        });
        EXPECT_TRUE(failures.empty()) << failures.size() << " refused, first: " << failures[0];
        if (smtp) {
            // What the server needed at most for the row, for the record.
            std::cout << name << ": peak resident memory of exhost smtp "
                      << testsupport::PeakResidentMb(std::to_string(smtp->Pid())) << " MB\n";
            smtp->Terminate();
            EXPECT_EQ(smtp->Wait(), 0) << smtp->ErrorOutput();
        }
        const auto stored = StoredWith(name + " #", row.mailboxes);
        EXPECT_EQ(stored, std::vector<int>(static_cast<std::size_t>(row.mailboxes),
                                           row.sessions * row.messagesEach));
    }
}

// A disk that is really full: the store on a small tmpfs. The delivery that does not fit is
// refused as a full disk and leaves nothing in any mailbox; one that fits goes through.
TEST(DeliveryOnAFullDisk, IsRefusedAsAFullDiskAndKeepsNothing) {
    if (geteuid() != 0)
        GTEST_SKIP() << "mounting a small file system needs root";
    SampleServer server(SampleSettings(4, "full.test"));
    ASSERT_EQ(server.Problem(), "");
    const auto storeDir = server.folder.Path() / "store";
    const auto saved = server.folder.Path() / "store-saved";
    fs::rename(storeDir, saved);
    fs::create_directory(storeDir);
    const auto size = "size=" + std::to_string(fs::file_size(saved / "store.db") + 12 * kMB);
    if (mount("tmpfs", storeDir.c_str(), "tmpfs", 0, size.c_str()) != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    struct Unmount {
        fs::path path;
        ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
    } unmount{storeDir};
    for (const auto& entry : fs::directory_iterator(saved))
        fs::copy(entry.path(), storeDir / entry.path().filename(), fs::copy_options::recursive);
    fs::permissions(storeDir, fs::perms::owner_all);

    const std::vector<std::string> recipients{server.Address(0), server.Address(1)};
    const auto tooLarge = server.Deliver(recipients, Message("too large", recipients[0], 8 * kMB));
    EXPECT_NE(tooLarge.exitCode, 0);
    EXPECT_NE(tooLarge.err.find("the disk is full"), std::string::npos) << tooLarge.err;
    const auto fits = server.Deliver(recipients, Message("fits", recipients[0], 1 * kMB));
    EXPECT_EQ(fits.exitCode, 0) << fits.err;

    auto store = platform::store::Store::Open(platform::host::ServerFolder(server.folder.Root()));
    for (std::size_t user = 0; user < 2; ++user)
        EXPECT_EQ(Subjects(store->Children(
                      store->Locate(server.InboxUrl(server.sample.localAliases.at(user))), false)),
                  (std::map<std::string, int>{{"fits", 1}}))
            << user;
}

} // namespace
