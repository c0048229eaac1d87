// Lorvanta.dll loaded the way the store loads it: by ProgID, through the class registry of a
// server folder and the COM runtime. The library is never linked into this program.

#include "platform/com/Activation.h"
#include "platform/com/ClassRegistry.h"
#include "platform/com/Guid.h"
#include "platform/com/ServerModule.h"
#include "platform/core/Error.h"
#include "platform/store/EventFlags.h"
#include "platform/store/PropertyNames.h"
#include "platform/store/StoreEvents.h"
#include "tests/unit/sink/ConcurrentDirectory.h"
#include "testsupport/FakeDirectory.h"
#include "testsupport/FakeEventInfo.h"
#include "testsupport/FakeRecord.h"
#include "testsupport/ScopedServerFolder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <thread>

namespace com = platform::com;
namespace store = platform::store;
namespace hr = platform::hr;
namespace fs = std::filesystem;
using platform::Variant;
using Texts = Variant::TextArray;

namespace {

constexpr const char* kProgId = "Lorvanta.LorvantaCls";
constexpr const char* kItemUrl = "file://./backofficestorage/example.com/MBX/alice/Inbox/m1.eml";
constexpr std::int32_t kDeliveredBegin =
    store::EVT_SYNC_BEGIN | store::EVT_IS_DELIVERED | store::EVT_NEW_ITEM;

// {00000000-0000-0000-0000-0000000000AB}: an interface nobody implements.
const com::IID kUnknownInterface = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0xAB}};

// A server folder with Lorvanta.dll registered by its own DllRegisterServer.
class LorvantaDll : public ::testing::Test {
protected:
    void SetUp() override { com::RegisterServer(LORVANTA_DLL); }

    template <class T> com::ComPtr<T> Create(com::REFIID iid) {
        return com::CreateInstanceAs<T>(registry, kProgId, iid);
    }

    testsupport::ScopedServerFolder folder;
    com::ClassRegistry registry{folder.ComDir()};
};

TEST_F(LorvantaDll, RegistersItselfUnderItsProgIdAndUnregistersAgain) {
    const auto entry = registry.FindByProgId(kProgId);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->progId, kProgId);
    EXPECT_EQ(entry->threadingModel, "Apartment");
    EXPECT_EQ(entry->server, fs::canonical(LORVANTA_DLL));
    EXPECT_EQ(entry->server.filename(), "Lorvanta.dll");
    EXPECT_EQ(registry.FindByClassId(entry->clsid), entry);
    EXPECT_EQ(registry.List().size(), 1u);

    com::UnregisterServer(LORVANTA_DLL);
    EXPECT_FALSE(registry.FindByProgId(kProgId));
    EXPECT_TRUE(registry.List().empty());
    try {
        com::CreateInstance(registry, kProgId, com::IID_IUnknown);
        FAIL() << "created after unregistration";
    } catch (const platform::Error& error) {
        EXPECT_EQ(error.Number(), hr::REGDB_E_CLASSNOTREG);
        EXPECT_NE(error.Description().find(kProgId), std::string::npos);
    }
    // Unregistering what is not registered is no failure, and registering again works.
    EXPECT_NO_THROW(com::UnregisterServer(LORVANTA_DLL));
    com::RegisterServer(LORVANTA_DLL);
    EXPECT_TRUE(registry.FindByProgId(kProgId));
}

TEST_F(LorvantaDll, SelfRegistrationFailsWithoutAServerFolder) {
    ::unsetenv("EXHOST_ROOT"); // the fixture's folder restores it
    const auto module = com::ServerModule::Load(LORVANTA_DLL);
    const auto registerServer =
        reinterpret_cast<com::DllRegisterServerProc>(module.Entry("DllRegisterServer"));
    EXPECT_TRUE(com::FAILED(registerServer()));
}

TEST_F(LorvantaDll, CreatedByProgIdOffersBothSinkInterfacesAndNoOther) {
    auto events = Create<store::IExStoreSyncEvents>(store::IID_IExStoreSyncEvents);
    ASSERT_TRUE(events);

    auto registration = events.As<store::ICreateRegistration>(store::IID_ICreateRegistration);
    ASSERT_TRUE(registration);
    auto back = registration.As<store::IExStoreSyncEvents>(store::IID_IExStoreSyncEvents);
    EXPECT_EQ(back.Get(), events.Get()) << "one object behind both interfaces";

    // Identity: IUnknown from either interface is the same pointer.
    auto unknownFromEvents = events.As<com::IUnknown>(com::IID_IUnknown);
    auto unknownFromRegistration = registration.As<com::IUnknown>(com::IID_IUnknown);
    EXPECT_EQ(unknownFromEvents.Get(), unknownFromRegistration.Get());

    void* none = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(events->QueryInterface(kUnknownInterface, &none), com::E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(events->QueryInterface(store::IID_IExStoreEventInfo, &none), com::E_NOINTERFACE);
    EXPECT_EQ(events->QueryInterface(store::IID_IExStoreSyncEvents, nullptr), com::E_POINTER);
}

TEST_F(LorvantaDll, CreationAskingForAnUnknownInterfaceFailsNamingTheClass) {
    try {
        com::CreateInstance(registry, kProgId, kUnknownInterface);
        FAIL() << "created";
    } catch (const platform::Error& error) {
        EXPECT_EQ(error.Number(), hr::E_NOINTERFACE);
        EXPECT_NE(error.Description().find(kProgId), std::string::npos) << error.Description();
    }
}

TEST_F(LorvantaDll, CreationByClassIdTextWorksToo) {
    const auto clsid = registry.FindByProgId(kProgId)->clsid;
    auto instance = com::CreateInstanceAs<store::ICreateRegistration>(
        registry, com::FormatGuid(clsid), store::IID_ICreateRegistration);
    EXPECT_TRUE(instance);
}

TEST_F(LorvantaDll, ReferenceCountingReleasesTheInstance) {
    auto events = Create<store::IExStoreSyncEvents>(store::IID_IExStoreSyncEvents);
    auto* raw = events.Detach();
    EXPECT_EQ(raw->AddRef(), 2u);
    store::ICreateRegistration* registration = nullptr;
    ASSERT_EQ(raw->QueryInterface(store::IID_ICreateRegistration,
                                  reinterpret_cast<void**>(&registration)),
              com::S_OK);
    EXPECT_EQ(registration->Release(), 2u);
    EXPECT_EQ(raw->Release(), 1u);
    // The last release frees it; the sanitizer build reports a leak or a double free.
    EXPECT_EQ(raw->Release(), 0u);
}

TEST_F(LorvantaDll, ExportsFollowTheServerRules) {
    const auto module = com::ServerModule::Load(LORVANTA_DLL);
    const auto canUnload =
        reinterpret_cast<com::DllCanUnloadNowProc>(module.Entry("DllCanUnloadNow"));
    EXPECT_EQ(canUnload(), com::S_FALSE) << "the server stays loaded";

    const auto getClassObject =
        reinterpret_cast<com::DllGetClassObjectProc>(module.Entry("DllGetClassObject"));
    void* object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(getClassObject(kUnknownInterface, com::IID_IClassFactory, &object),
              com::CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);

    const auto clsid = registry.FindByProgId(kProgId)->clsid;
    com::ComPtr<com::IClassFactory> factory;
    ASSERT_EQ(
        getClassObject(clsid, com::IID_IClassFactory, reinterpret_cast<void**>(factory.Put())),
        com::S_OK);
    EXPECT_EQ(factory->LockServer(true), com::S_OK);
    EXPECT_EQ(factory->LockServer(false), com::S_OK);
    // Aggregation is refused.
    auto outer = Create<com::IUnknown>(com::IID_IUnknown);
    EXPECT_EQ(factory->CreateInstance(outer.Get(), com::IID_IUnknown, &object),
              com::CLASS_E_NOAGGREGATION);
    EXPECT_EQ(factory->CreateInstance(nullptr, kUnknownInterface, &object), com::E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
}

TEST(LorvantaDllExports, OnlyTheFourEntryPointsAreExported) {
    // The dynamic symbol table, as the binary tools read it.
    const std::string command = std::string("nm -D --defined-only '") + LORVANTA_DLL + "'";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::set<std::string> exported;
    char line[4096];
    while (std::fgets(line, sizeof line, pipe)) {
        std::istringstream fields(line);
        std::string address, kind, name;
        if (fields >> address >> kind >> name &&
            std::string("TtDdBbRrVvWwu").find(kind[0]) != std::string::npos)
            exported.insert(name);
    }
    ASSERT_EQ(::pclose(pipe), 0) << command;
    EXPECT_EQ(exported, (std::set<std::string>{"DllCanUnloadNow", "DllGetClassObject",
                                               "DllRegisterServer", "DllUnregisterServer"}));
}

// The sink through its interface, with the store's side played by the doubles.
class LorvantaDllEvents : public LorvantaDll {
protected:
    void SetUp() override {
        LorvantaDll::SetUp();
        sink = Create<store::IExStoreSyncEvents>(store::IID_IExStoreSyncEvents);
        ASSERT_TRUE(sink);
        info.record = record;
        directory.state().rows = {Texts{"SMTP:Alice@Example.com", "smtp:al@example.com"}};
        record->properties[store::kTransportMessageHeaders] =
            "From: bob@other.org\r\nTo: AL@EXAMPLE.COM\r\nSubject: hi\r\n";
    }

    bool Stamped() const {
        return record->properties.count(store::kKeywords) > 0 && record->updates == 1;
    }

    doubles::FakeDirectory directory;
    std::shared_ptr<doubles::FakeRecord> record = std::make_shared<doubles::FakeRecord>();
    doubles::FakeEventInfo info;
    com::ComPtr<store::IExStoreSyncEvents> sink;
};

TEST_F(LorvantaDllEvents, TheBeginPhaseOfASaveStampsTheMessage) {
    EXPECT_EQ(sink->OnSyncSave(&info, kItemUrl, kDeliveredBegin), com::S_OK);
    EXPECT_EQ(record->properties[store::kInternetAccountName], Variant("al@example.com"));
    EXPECT_EQ(record->properties[store::kKeywords], Variant(Texts{"al@example.com"}));
    EXPECT_EQ(record->updates, 1);
    EXPECT_TRUE(info.abortCodes.empty());
    EXPECT_EQ(info.references, 1u);
    ASSERT_EQ(directory.state().queries.size(), 1u);
    EXPECT_NE(directory.state().queries[0].find("(mail=alice@*)"), std::string::npos);
}

TEST_F(LorvantaDllEvents, OtherPhasesAndEveryDeletionDoNothing) {
    const std::int32_t extra = store::EVT_IS_DELIVERED | store::EVT_NEW_ITEM;
    const struct {
        const char* name;
        bool save;
        std::int32_t flags;
    } cases[] = {
        {"save committed", true, store::EVT_SYNC_COMMITTED | extra},
        {"save aborted", true, store::EVT_SYNC_ABORTED | extra},
        {"save committed and aborted", true,
         store::EVT_SYNC_COMMITTED | store::EVT_SYNC_ABORTED | extra},
        {"save without a phase", true, extra},
        {"save with no flags at all", true, 0},
        {"delete begin", false, store::EVT_SYNC_BEGIN | extra},
        {"delete committed", false, store::EVT_SYNC_COMMITTED | extra},
        {"delete aborted", false, store::EVT_SYNC_ABORTED | extra},
        {"delete without a phase", false, extra},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto result = c.save ? sink->OnSyncSave(&info, kItemUrl, c.flags)
                                   : sink->OnSyncDelete(&info, kItemUrl, c.flags);
        EXPECT_EQ(result, com::S_OK);
        EXPECT_TRUE(record->calls.empty()) << "the item was touched";
        EXPECT_EQ(record->updates, 0);
        EXPECT_TRUE(info.abortCodes.empty());
        EXPECT_TRUE(directory.state().queries.empty());
    }
}

TEST_F(LorvantaDllEvents, BeginWinsOverTheLaterPhaseFlags) {
    const std::int32_t all = kDeliveredBegin | store::EVT_SYNC_COMMITTED | store::EVT_SYNC_ABORTED;
    EXPECT_EQ(sink->OnSyncSave(&info, kItemUrl, all), com::S_OK);
    EXPECT_TRUE(Stamped());
}

TEST_F(LorvantaDllEvents, RegisterAcceptsWithResultZero) {
    auto registration = sink.As<store::ICreateRegistration>(store::IID_ICreateRegistration);
    std::int32_t result = 0;
    EXPECT_EQ(registration->Register(&info, kItemUrl, 0, &result), com::S_OK);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(registration->Register(nullptr, nullptr, 0, nullptr), com::S_OK);
    EXPECT_TRUE(record->calls.empty());
}

TEST_F(LorvantaDllEvents, FailuresInsideNeverReachTheStore) {
    const struct {
        const char* name;
        std::function<void()> arrange;
    } cases[] = {
        {"record unreadable", [&] { record->failing = {"Fields"}; }},
        {"event record refused", [&] { info.eventRecordFails = true; }},
        {"commit fails", [&] { record->failing = {"Update"}; }},
        {"every write fails",
         [&] {
             record->failing = {"Write " + store::kKeywords, "Write " + store::kInternetAccountName,
                                "Update"};
         }},
        {"directory down", [&] { directory.state().executeFails = true; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.arrange();
        EXPECT_EQ(sink->OnSyncSave(&info, kItemUrl, kDeliveredBegin), com::S_OK);
        EXPECT_TRUE(info.abortCodes.empty());
    }
    EXPECT_EQ(sink->OnSyncSave(nullptr, nullptr, kDeliveredBegin), com::S_OK);
    EXPECT_EQ(sink->OnSyncDelete(nullptr, nullptr, kDeliveredBegin), com::S_OK);
}

// Two instances at work on two threads at once: each stamps its own mailbox's messages with
// its own owner's address.
TEST_F(LorvantaDll, TwoInstancesOnTwoThreadsDoNotAffectEachOther) {
    sinktest::ConcurrentDirectory directory(
        {{"alice", {"SMTP:alice@example.com"}},
         {"bob", {"SMTP:bob@example.com", "smtp:b@example.com"}}});
    constexpr int kEvents = 200;

    auto work = [this](std::string mailbox, std::string recipient, std::string expected,
                       int* stamped) {
        // Created on this thread, used only here, as an apartment-threaded instance is.
        auto sink = Create<store::IExStoreSyncEvents>(store::IID_IExStoreSyncEvents);
        const std::string url =
            "file://./backofficestorage/example.com/MBX/" + mailbox + "/Inbox/m.eml";
        for (int i = 0; i < kEvents; ++i) {
            auto record = std::make_shared<doubles::FakeRecord>();
            record->properties[store::kTransportMessageHeaders] =
                "To: other@else.org, " + recipient + "\r\nSubject: " + std::to_string(i) + "\r\n";
            record->properties[store::kKeywords] = Texts{"K" + std::to_string(i)};
            doubles::FakeEventInfo info;
            info.record = record;
            sink->OnSyncSave(&info, url.c_str(), kDeliveredBegin);
            sink->OnSyncSave(&info, url.c_str(),
                             store::EVT_SYNC_COMMITTED | store::EVT_IS_DELIVERED);
            if (record->properties[store::kInternetAccountName] == Variant(expected) &&
                record->properties[store::kKeywords] ==
                    Variant(Texts{"K" + std::to_string(i) + "," + expected}) &&
                record->updates == 1)
                ++*stamped;
        }
    };
    int aliceStamped = 0;
    int bobStamped = 0;
    std::thread alice(work, "alice", "Alice@Example.com", "alice@example.com", &aliceStamped);
    std::thread bob(work, "bob", "B@EXAMPLE.COM", "b@example.com", &bobStamped);
    alice.join();
    bob.join();
    EXPECT_EQ(aliceStamped, kEvents);
    EXPECT_EQ(bobStamped, kEvents);
    EXPECT_EQ(directory.Queries(), 2 * kEvents);
}

} // namespace
