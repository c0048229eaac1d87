// Other processes on the store: a delivering process killed at random moments, again and again,
// after which the store must open clean and hold only whole messages; and two processes saving
// at once, every item of both stored exactly once.

#include "StoreFiles.h"
#include "TempStore.h"

#include "platform/store/Delivery.h"
#include "platform/store/PropertyNames.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <set>
#include <thread>

namespace {

using storetest::TempStore;
namespace store = platform::store;

constexpr int kRounds = 8;

std::string Message(int round, int number) {
    const auto subject = "crash " + std::to_string(round) + "-" + std::to_string(number);
    // A body of some size, so that a save spans several database pages.
    return "From: sender@example.org\r\nTo: alice@example.com\r\nSubject: " + subject + "\r\n\r\n" +
           std::string(6000 + number % 4000, 'x') + "\r\n";
}

class CrashSafety : public TempStore {};

TEST_F(CrashSafety, KilledDeliveriesLeaveNoHalfSavedItem) {
    std::mt19937 random(42);
    for (int round = 0; round < kRounds; ++round) {
        const pid_t child = fork();
        ASSERT_NE(child, -1);
        if (child == 0) {
            // A store of its own: a connection must not cross a fork.
            auto own = OpenAnother();
            for (int number = 0;; ++number)
                store::DeliverMessage(*own, "example.com", "alice", Message(round, number));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20 + random() % 80));
        ASSERT_EQ(kill(child, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the delivering process ended by itself";
    }

    EXPECT_EQ(storetest::Query(root / "store" / "store.db", "PRAGMA integrity_check"), "ok");

    // Reopened as after a crash: every stored message is whole.
    store.reset();
    store = OpenAnother();
    const auto items = Inbox("alice");
    EXPECT_GT(items.size(), 0u) << "nothing was delivered before the kills";
    for (const auto& item : items) {
        auto properties = item.properties;
        const auto subject = properties[store::kSubject].ToText();
        const auto headers = properties[store::kTransportMessageHeaders].ToText();
        const auto body = properties[store::kTextDescription].ToText();
        ASSERT_EQ(subject.rfind("crash ", 0), 0u) << item.key;
        EXPECT_NE(headers.find("Subject: " + subject + "\r\n"), std::string::npos) << item.key;
        const auto number = std::stoi(subject.substr(subject.find('-') + 1));
        EXPECT_GE(body.size(), static_cast<std::size_t>(6000 + number % 4000)) << item.key;
    }
    // And the store still takes deliveries.
    EXPECT_NO_THROW(store::DeliverMessage(*store, "example.com", "alice", Message(99, 0)));
}

TEST_F(CrashSafety, SavesFromTwoProcessesAreAllStoredOnce) {
    constexpr int kSaves = 25;
    // A connection of its own for each item, items named after the writer.
    const auto write = [&](const std::string& writer) {
        for (int i = 0; i < kSaves; ++i)
            CreateItem(storetest::kInbox + "/" + writer + "-" + std::to_string(i),
                       {{"urn:test:writer", platform::Variant(writer)}});
    };
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        // The child writes through a store of its own and leaves without running the test's
        // teardown.
        int status = 0;
        try {
            write("child");
        } catch (...) {
            status = 1;
        }
        _exit(status);
    }
    write("parent");
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::set<std::string> names;
    for (const auto& item : Inbox("alice"))
        names.insert(item.properties.at(store::kDisplayName).Text());
    EXPECT_EQ(names.size(), static_cast<std::size_t>(2 * kSaves));
    EXPECT_EQ(names.count("child-0"), 1u);
    EXPECT_EQ(names.count("parent-" + std::to_string(kSaves - 1)), 1u);
}

} // namespace
