// Lorvanta.dll loaded the way the store loads it, by ProgID; it is never linked into this program.

#include "platform/com/Activation.h"
#include "platform/com/ClassRegistry.h"
#include "platform/com/Guid.h"
#include "platform/com/ServerModule.h"
#include "platform/core/Error.h"
#include "platform/store/EventFlags.h"
#include "platform/store/StoreEvents.h"
#include "testsupport/FakeDirectory.h"
#include "testsupport/FakeEventInfo.h"
#include "testsupport/FakeRecord.h"
#include "testsupport/ScopedServerFolder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>

namespace com = platform::com;
namespace store = platform::store;

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

// What it registers is read back by CatalogTest.
TEST_F(LorvantaDll, UnregistersItselfAndRegistersAgain) {
    ASSERT_TRUE(registry.FindByProgId(kProgId));
    com::UnregisterServer(LORVANTA_DLL);
    EXPECT_TRUE(registry.List().empty());
    // Unregistering what is not registered is no failure, and registering again works.
    EXPECT_NO_THROW(com::UnregisterServer(LORVANTA_DLL));
    com::RegisterServer(LORVANTA_DLL);
    EXPECT_TRUE(registry.FindByProgId(kProgId));
}

TEST_F(LorvantaDll, CreatedByProgIdOffersBothSinkInterfacesAndNoOther) {
    auto events = Create<store::IExStoreSyncEvents>(store::IID_IExStoreSyncEvents);
    ASSERT_TRUE(events);

    auto registration = events.As<store::ICreateRegistration>(store::IID_ICreateRegistration);
    ASSERT_TRUE(registration);
    auto back = registration.As<store::IExStoreSyncEvents>(store::IID_IExStoreSyncEvents);
    EXPECT_EQ(back.Get(), events.Get()) << "one object behind both interfaces";

    EXPECT_EQ(events.As<com::IUnknown>(com::IID_IUnknown).Get(),
              registration.As<com::IUnknown>(com::IID_IUnknown).Get())
        << "one identity";

    void* none = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(events->QueryInterface(kUnknownInterface, &none), com::E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(events->QueryInterface(store::IID_IExStoreEventInfo, &none), com::E_NOINTERFACE);
    EXPECT_EQ(events->QueryInterface(store::IID_IExStoreSyncEvents, nullptr), com::E_POINTER);
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

// Saves are PhaseDispatchTest's, StampMessageTest's and, loaded by the event service, the fault
// road's (BrokenRegistrationTest, DirectoryDownTest).
TEST_F(LorvantaDll, ADeletionAndARegistrationAreAccepted) {
    const auto sink = Create<store::IExStoreSyncEvents>(store::IID_IExStoreSyncEvents);
    ASSERT_TRUE(sink);
    doubles::FakeDirectory directory;
    const auto record = std::make_shared<doubles::FakeRecord>(); // any call on it shows
    doubles::FakeEventInfo info;
    info.record = record;
    EXPECT_EQ(sink->OnSyncDelete(&info, kItemUrl, kDeliveredBegin), com::S_OK);
    EXPECT_TRUE(record->calls.empty()) << "a deletion touched the item";
    EXPECT_TRUE(directory.state().queries.empty());

    auto registration = sink.As<store::ICreateRegistration>(store::IID_ICreateRegistration);
    std::int32_t result = 0;
    EXPECT_EQ(registration->Register(&info, kItemUrl, 0, &result), com::S_OK);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(registration->Register(nullptr, nullptr, 0, nullptr), com::S_OK);
    EXPECT_TRUE(info.abortCodes.empty());
    EXPECT_EQ(info.references, 1u);
}

} // namespace
