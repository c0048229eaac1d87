// Two processes saving into one store at once: every item of both is stored, each exactly once.

#include "TempStore.h"

#include "platform/store/Delivery.h"
#include "platform/store/PropertyNames.h"

#include <sys/wait.h>
#include <unistd.h>

#include <set>

using namespace platform;
using namespace platform::store;
using namespace storetest;

namespace {

constexpr int kSavesPerWriter = 25;

class Concurrency : public TempStore {
protected:
    std::set<std::string> InboxNames(const std::string& mailbox) {
        std::set<std::string> names;
        for (const auto& item : Inbox(mailbox))
            names.insert(item.properties.at(kDisplayName).Text());
        return names;
    }

    // One writer: a connection of its own for each item, items named after it.
    void Write(const std::string& writer) {
        for (int i = 0; i < kSavesPerWriter; ++i)
            CreateItem(kFileBase + "/alice/Inbox/" + writer + "-" + std::to_string(i),
                       {{"urn:test:writer", Variant(writer)}});
    }
};

TEST_F(Concurrency, SavesFromTwoProcessesAreAllStoredOnce) {
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        // The child writes through a store of its own and leaves without running the test's
        // teardown.
        int status = 0;
        try {
            Write("child");
        } catch (...) {
            status = 1;
        }
        _exit(status);
    }
    Write("parent");
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const auto names = InboxNames("alice");
    EXPECT_EQ(names.size(), static_cast<std::size_t>(2 * kSavesPerWriter));
    EXPECT_EQ(names.count("child-0"), 1u);
    EXPECT_EQ(names.count("parent-" + std::to_string(kSavesPerWriter - 1)), 1u);
}

} // namespace
