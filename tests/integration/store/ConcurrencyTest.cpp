#include "TempStore.h"
#include "TestRegistration.h"
#include "TestSink.h"

#include "platform/store/Delivery.h"
#include "platform/store/PropertyNames.h"

#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <thread>

using namespace platform;
using namespace platform::store;
using namespace storetest;

namespace {

constexpr int kThreads = 4;
constexpr int kSavesPerThread = 25;

class Concurrency : public TempStore {
protected:
    std::set<std::string> InboxNames(const std::string& mailbox) {
        std::set<std::string> names;
        for (const auto& item :
             store->Children(store->Locate(kFileBase + "/" + mailbox + "/Inbox"), false))
            names.insert(item.properties.at(kDisplayName).Text());
        return names;
    }

    // One writer: its own connections, items named after it.
    void Write(const std::string& writer) {
        for (int i = 0; i < kSavesPerThread; ++i) {
            auto connection = Connect(kFileBase + "/alice");
            auto record = CreateObjectAs<ado::Record>("ADODB.Record");
            record->Open(kFileBase + "/alice/Inbox/" + writer + "-" + std::to_string(i), connection,
                         3, 0x4000000, -1, "", "");
            record->Fields()->Item("urn:test:writer")->SetValue(Variant(writer));
            record->Fields()->Update();
            record->Close();
        }
    }
};

TEST_F(Concurrency, EventsOfSavesFromSeveralThreadsEachRunOnce) {
    TestSink sink;
    sink.onBegin = [](ado::Record& record) {
        record.Fields()->Item(kKeywords)->SetValue(Variant(Variant::TextArray{"seen"}));
        record.Fields()->Update();
    };
    SetSinkCreator([&](const std::string&) { return com::ComPtr<IExStoreSyncEvents>(&sink); });
    storetest::Register(*store, kFileBase + "/alice/Inbox/Test.reg");

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([this, t] { Write("thread" + std::to_string(t)); });
    for (auto& thread : threads)
        thread.join();
    int stamped = 0;
    for (const auto& item : store->Children(store->Locate(kFileBase + "/alice/Inbox"), false))
        stamped += item.properties.count(kKeywords) ? 1 : 0;
    EXPECT_EQ(stamped, kThreads * kSavesPerThread);
    // Begin and committed phase for each save, besides the one Register of the registration.
    const auto calls = sink.Calls();
    EXPECT_EQ(std::count_if(calls.begin(), calls.end(),
                            [](const auto& call) { return call.method == "OnSyncSave"; }),
              2 * kThreads * kSavesPerThread);
    SetSinkCreator(nullptr);
}

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
    EXPECT_EQ(names.size(), static_cast<std::size_t>(2 * kSavesPerThread));
    EXPECT_EQ(names.count("child-0"), 1u);
    EXPECT_EQ(names.count("parent-" + std::to_string(kSavesPerThread - 1)), 1u);
}

} // namespace
