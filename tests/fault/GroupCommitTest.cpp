// Deliveries from several threads share commits: each message is still stored and stamped once,
// all or nothing, and is on disk before its caller hears of it; a failing one is undone alone.

#include "FaultRoad.h"

#include "platform/core/Error.h"
#include "platform/store/GroupCommit.h"
#include "platform/store/StoreErrors.h"
#include "testsupport/FailureOf.h"

#include <algorithm>
#include <atomic>
#include <future>
#include <stdexcept>
#include <thread>

namespace faulttest {
namespace {

namespace store = platform::store;

class GroupCommitRoad : public FaultRoad {
protected:
    store::GroupCommit::OpenStore CountingOpen() {
        return [this] {
            ++opened_;
            return OpenAnotherStore();
        };
    }

    store::GroupCommit::Work Delivering(const std::string& subject, bool thenFail = false) {
        return [this, subject, thenFail](store::Store& store) {
            store::DeliverMessage(store, MailboxUrl(), Message(subject));
            if (thenFail)
                throw std::runtime_error("refused after saving");
        };
    }

    // Runs `works` on threads of their own while a first caller's batch is held open, so that
    // they all queue and share the next batch. Returns, per work, whether its Run succeeded and
    // whether the WAL had been synced since the batch was let go by the time it returned.
    struct Outcome {
        bool stored;
        bool syncedBeforeReturn;
    };
    std::vector<Outcome> RunBehindAHeldBatch(store::GroupCommit& commits,
                                             const std::vector<store::GroupCommit::Work>& works) {
        std::promise<void> release;
        auto held = release.get_future().share();
        std::thread first([&] {
            commits.Run([&](store::Store& store) {
                held.wait();
                Delivering("held")(store);
            });
        });
        while (opened_ == 0)
            std::this_thread::yield();
        std::vector<Outcome> outcomes(works.size());
        std::vector<std::thread> threads;
        std::atomic<std::int64_t> syncsAtRelease{-1};
        for (std::size_t i = 0; i < works.size(); ++i)
            threads.emplace_back([&, i] {
                bool stored = true;
                try {
                    commits.Run(works[i]);
                } catch (const std::exception&) {
                    stored = false;
                }
                outcomes[i] = {stored, FaultyDisk::WalSyncs() > syncsAtRelease.load()};
            });
        while (commits.Queued() < works.size())
            std::this_thread::yield();
        syncsAtRelease = FaultyDisk::WalSyncs();
        release.set_value();
        first.join();
        for (auto& thread : threads)
            thread.join();
        return outcomes;
    }

    std::vector<std::string> SortedInboxSubjects() {
        auto subjects = InboxSubjects();
        std::sort(subjects.begin(), subjects.end());
        return subjects;
    }

    std::atomic<int> opened_{0};
};

TEST_F(GroupCommitRoad, ConcurrentDeliveriesShareOneSyncedCommitAndAreEachStampedOnce) {
    store::GroupCommit commits(CountingOpen());
    std::vector<store::GroupCommit::Work> works;
    std::vector<std::string> expected{"held"};
    for (int i = 0; i < 7; ++i) {
        expected.push_back("concurrent " + std::to_string(i));
        works.push_back(Delivering(expected.back()));
    }
    const auto syncsBefore = FaultyDisk::WalSyncs();
    const auto outcomes = RunBehindAHeldBatch(commits, works);

    for (const auto& outcome : outcomes) {
        EXPECT_TRUE(outcome.stored);
        EXPECT_TRUE(outcome.syncedBeforeReturn) << "acknowledged before its commit was synced";
    }
    EXPECT_EQ(opened_, 2) << "the seven waiting deliveries did not share one batch";
    EXPECT_LE(FaultyDisk::WalSyncs() - syncsBefore, 4) << "every delivery synced on its own";

    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(SortedInboxSubjects(), expected);
    // Every message is stamped (the registration item beside them is no message).
    for (const auto& item : store_->Children(store_->Locate(InboxUrl()), false)) {
        if (item.properties.count(store::kSubject)) {
            EXPECT_EQ(item.properties.at(kAccountName).ToText(), OwnerAddress()) << item.key;
        }
    }
}

TEST_F(GroupCommitRoad, AFailingDeliveryIsUndoneAloneAndTheRestOfItsBatchCommits) {
    store::GroupCommit commits(CountingOpen());
    const auto outcomes = RunBehindAHeldBatch(
        commits, {Delivering("before"), Delivering("refused", true), Delivering("after")});
    EXPECT_TRUE(outcomes[0].stored);
    EXPECT_FALSE(outcomes[1].stored);
    EXPECT_TRUE(outcomes[2].stored);
    EXPECT_EQ(SortedInboxSubjects(), (std::vector<std::string>{"after", "before", "held"}));
}

TEST_F(GroupCommitRoad, AStoreThatCannotBeOpenedFailsItsBatchAndTheNextOneWorks) {
    bool broken = true;
    store::GroupCommit commits([&]() -> std::shared_ptr<store::Store> {
        if (broken)
            throw std::runtime_error("no store");
        return OpenAnotherStore();
    });
    EXPECT_THROW(commits.Run(Delivering("lost")), std::runtime_error);
    broken = false;
    EXPECT_NO_THROW(commits.Run(Delivering("kept")));
    EXPECT_EQ(InboxSubjects(), std::vector<std::string>{"kept"});
}

// The disk fills up while a batch commits, on the one store the group keeps for its batches
// (as a server's group does): that batch's callers get the store's error and keep nothing, and
// the writer serves the next batch on the same store once there is room again.
TEST_F(GroupCommitRoad, ACommitThatFailsFailsItsBatchAndTheNextOneWorks) {
    const auto kept = OpenAnotherStore();
    store::GroupCommit commits([&] { return kept; });
    const auto fillAtCommit = [this](const std::string& subject) {
        return [this, subject](store::Store& store) {
            Delivering(subject)(store);
            // The batch's pages are still in the cache: the commit writes them.
            FaultyDisk::FillAfter(0);
        };
    };
    for (const auto* subject : {"lost", "lost again"}) {
        SCOPED_TRACE(subject);
        const auto failure = testsupport::FailureOf([&] { commits.Run(fillAtCommit(subject)); });
        EXPECT_EQ(failure.number, store::hr::STG_E_MEDIUMFULL) << failure.description;
        FaultyDisk::Repair();
        EXPECT_NO_THROW(commits.Run(Delivering(std::string("kept after ") + subject)));
    }
    EXPECT_EQ(SortedInboxSubjects(),
              (std::vector<std::string>{"kept after lost", "kept after lost again"}));
}

} // namespace
} // namespace faulttest
