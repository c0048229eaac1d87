// Deliveries whose event work runs before the shared write transaction: under concurrent
// deliveries each message is stored once and stamped once, what the sink wrote is saved with it,
// a refusal or a failed write keeps nothing, and the end phase sees the committed item.

#include "TempStore.h"
#include "TestSink.h"
#include "tests/integration/AtOnce.h"

#include "platform/store/BatchedDelivery.h"
#include "platform/store/Delivery.h"
#include "platform/store/EventFlags.h"
#include "platform/store/GroupCommit.h"
#include "platform/store/PropertyNames.h"
#include "platform/store/StorePool.h"

#include <algorithm>
#include <atomic>
#include <map>

using namespace platform;
using namespace platform::store;
using namespace storetest;

namespace {

class BatchedDelivery : public TempStore {
protected:
    void SetUp() override {
        TempStore::SetUp();
        stores = StorePool::Open(host::ServerFolder(root));
        commits = std::make_unique<GroupCommit>([this] { return stores->Take(); });
        sink.onBegin = [](ado::Record& record) {
            record.Fields()->Item(kKeywords)->SetValue(Variant(Variant::TextArray{"stamped"}));
            record.Fields()->Update();
        };
        sink.onCommitted = [this](const std::string& url) {
            // A connection of its own sees only what is committed.
            const auto reader = OpenAnother();
            if (!reader->Exists(reader->Locate(url)))
                ++committedButUnseen;
        };
        sinks["Test.Sink"] = &sink;
        for (const auto* mailbox : {"alice", "bob"})
            storetest::Register(*store, kFileBase + "/" + mailbox + "/Inbox/Test.reg");
    }

    std::vector<std::string> Deliver(const std::vector<std::string>& mailboxes,
                                     const std::string& subject, const std::string& body = "body") {
        std::vector<platform::store::MailboxCopy> urls;
        for (const auto& mailbox : mailboxes)
            urls.emplace_back(kFileBase + "/" + mailbox);
        return DeliverInBatch(*stores, *commits, urls,
                              "Subject: " + subject + "\r\n\r\n" + body + "\r\n");
    }

    // Subject -> how many messages of the mailbox carry it, and how many of those are stamped.
    std::map<std::string, std::pair<int, int>> Subjects(const std::string& mailbox) {
        std::map<std::string, std::pair<int, int>> subjects;
        for (const auto& item : Inbox(mailbox)) {
            const auto subject = item.properties.find(kSubject);
            if (subject == item.properties.end())
                continue;
            auto& [stored, stamped] = subjects[subject->second.Text()];
            ++stored;
            stamped += item.properties.count(kKeywords) ? 1 : 0;
        }
        return subjects;
    }

    // How many messages of the mailbox have a subject that begins with `prefix`, each of which
    // must be stored and stamped once.
    int StoredOnce(const std::string& mailbox, const std::string& prefix) {
        int stored = 0;
        for (const auto& [subject, counts] : Subjects(mailbox))
            if (subject.rfind(prefix, 0) == 0) {
                EXPECT_EQ(counts, std::make_pair(1, 1)) << mailbox << ": " << subject;
                ++stored;
            }
        return stored;
    }

    int Phases(std::int32_t flag) {
        const auto flags = sink.SaveFlags();
        return static_cast<int>(
            std::count_if(flags.begin(), flags.end(), [&](auto each) { return each & flag; }));
    }

    TestSink sink;
    std::atomic<int> committedButUnseen{0};
    std::shared_ptr<StorePool> stores;
    std::unique_ptr<GroupCommit> commits;
};

// Each thread delivers its messages to the mailboxes of its round. Large messages, alone and from
// several threads at once, make a batch's undo copies outgrow what SQLite keeps of them in memory
// and move to a file.
TEST_F(BatchedDelivery, ConcurrentDeliveriesAreEachStoredAndStampedOnceAndNoneIsLost) {
    store->CreateMailbox("example.com", "carol");
    storetest::Register(*store, kFileBase + "/carol/Inbox/Test.reg");
    const std::vector<std::string> all{"alice", "bob", "carol"};
    const struct {
        const char* name;
        std::vector<std::vector<std::string>> rounds;
        int threads = 6;
        int messages = 15;
        std::size_t kilobytes = 0;
    } rows[] = {
        {"one mailbox", {{"alice"}}},
        {"several mailboxes", {{"alice"}, {"bob"}}},
        {"one message for two mailboxes", {{"alice", "bob"}}},
        {"400 KB", {{"alice"}}, 1, 1, 400},
        {"400 KB x 6 threads", {{"alice"}}, 6, 1, 400},
        {"1 MB x 2 mailboxes", {{"alice", "bob"}}, 1, 1, 1024},
        {"1 MB x 3 mailboxes x 3 threads", {all}, 3, 1, 1024},
        {"3 MB x 3 mailboxes", {all}, 1, 1, 3072},
        {"8 MB x 2 mailboxes x 2 threads", {{"alice", "bob"}}, 2, 1, 8192},
    };
    int expected = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto body = row.kilobytes ? std::string(row.kilobytes * 1024, 'x') : "body";
        const auto failures = integration::AtOnce(row.threads, [&](int t) {
            for (int i = 0; i < row.messages; ++i)
                Deliver(row.rounds[t % row.rounds.size()],
                        row.name + (" " + std::to_string(t) + "." + std::to_string(i)), body);
            return std::string();
        });
        EXPECT_EQ(failures, std::vector<std::string>{});
        std::map<std::string, int> perMailbox;
        for (int t = 0; t < row.threads; ++t)
            for (const auto& mailbox : row.rounds[t % row.rounds.size()])
                perMailbox[mailbox] += row.messages;
        for (const auto& mailbox : all) {
            EXPECT_EQ(StoredOnce(mailbox, row.name + std::string(" ")), perMailbox[mailbox])
                << mailbox;
            expected += perMailbox[mailbox];
        }
    }
    // A begin and an end phase for every stored message, and every end phase saw its item.
    EXPECT_EQ(Phases(EVT_SYNC_BEGIN), expected);
    EXPECT_EQ(Phases(EVT_SYNC_COMMITTED), expected);
    EXPECT_EQ(committedButUnseen, 0);
}

TEST_F(BatchedDelivery, ARefusalOrAFailedWriteKeepsNothingForAnyMailbox) {
    struct Case {
        const char* name;
        std::function<void()> arrange;
    };
    const std::vector<Case> cases{
        {"a sink refuses", [&] { sink.abortInBegin = true; }},
        // Bob's Inbox goes after the event work for him and before the write.
        {"the Inbox goes",
         [&] {
             sink.abortInBegin = false;
             sink.onBegin = [&, calls = 0](ado::Record&) mutable {
                 if (++calls == 2)
                     store->Delete(kFileBase + "/bob/Inbox");
             };
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.arrange();
        EXPECT_THROW(Deliver({"alice", "bob"}, c.name), Error);
        EXPECT_TRUE(Subjects("alice").empty());
        EXPECT_EQ(Phases(EVT_SYNC_COMMITTED), 0);
        EXPECT_GE(Phases(EVT_SYNC_ABORTED), 1);
    }
    // The next delivery works again.
    sink.abortInBegin = false;
    sink.onBegin = nullptr;
    EXPECT_EQ(Deliver({"alice"}, "after").size(), 1u);
    EXPECT_EQ(Subjects("alice").size(), 1u);
}

TEST_F(BatchedDelivery, KeptStoresAreReusedUntilTheStoreFileIsReplaced) {
    Deliver({"alice"}, "first");
    ASSERT_GE(stores->Kept(), 1u);
    const Store* kept = stores->Take().get();
    EXPECT_EQ(stores->Take().get(), kept) << "a store was opened anew although one was kept";

    // The store file goes: the kept stores must not go on writing into the removed file.
    store.reset();
    for (const auto* suffix : {"", "-wal", "-shm"})
        std::filesystem::remove(root / "store" / (std::string("store.db") + suffix));
    EXPECT_THROW(Deliver({"alice"}, "lost"), Error) << "delivered into the removed file";
    EXPECT_EQ(stores->Kept(), 0u);

    store = OpenAnother();
    store->CreateDomainFolder("example.com");
    store->CreateMailbox("example.com", "alice");
    Deliver({"alice"}, "second");
    EXPECT_EQ(Subjects("alice").size(), 1u) << "the delivery did not reach the new store file";
}

} // namespace
