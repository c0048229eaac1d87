#include "platform/com/Activation.h"

#include "platform/com/Guid.h"
#include "platform/com/ServerModule.h"
#include "platform/core/Error.h"
#include "testsupport/ScopedServerFolder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

namespace com = platform::com;
namespace hr = platform::hr;
namespace fs = std::filesystem;

namespace {

const com::CLSID kMissingServerClass = {
    0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};
const com::CLSID kNotAServerClass = {
    0x66666666, 0x7777, 0x8888, {0x99, 0x99, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}};

struct FailureCase {
    const char* name;
    std::function<void()> call;
    std::int32_t number;
    std::vector<std::string> described; // texts the description must name
};

class ActivationFailures : public ::testing::Test {
protected:
    void SetUp() override {
        registry.Register({kMissingServerClass, "Test.MissingServer", "Apartment",
                           folder.Path() / "absent" / "Gone.dll"});
        registry.Register({kNotAServerClass, "Test.NotAServer", "Apartment", NO_ENTRY_POINTS_DLL});
    }

    void Expect(const FailureCase& c) {
        SCOPED_TRACE(c.name);
        try {
            c.call();
            ADD_FAILURE() << "no failure";
        } catch (const platform::Error& error) {
            EXPECT_EQ(error.Number(), c.number)
                << std::hex << error.Number() << " " << error.Description();
            for (const auto& text : c.described)
                EXPECT_NE(error.Description().find(text), std::string::npos)
                    << "\"" << error.Description() << "\" lacks \"" << text << "\"";
        }
    }

    testsupport::ScopedServerFolder folder;
    com::ClassRegistry registry{folder.ComDir()};
};

TEST_F(ActivationFailures, CarryThePlatformNumbersAndNameWhatFailed) {
    const auto create = [this](std::string text) {
        return [this, text] { com::CreateInstance(registry, text, com::IID_IUnknown); };
    };
    const std::string gone = (folder.Path() / "absent" / "Gone.dll").string();
    const FailureCase cases[] = {
        {"unknown ProgID", create("Nobody.Here"), hr::REGDB_E_CLASSNOTREG, {"Nobody.Here"}},
        {"ProgID with a blank",
         create("Test.Not A Server"),
         hr::CO_E_CLASSSTRING,
         {"Test.Not A Server"}},
        {"empty text", create(""), hr::CO_E_CLASSSTRING, {}},
        {"ProgID starting with a digit",
         create("9Lives.Cat"),
         hr::CO_E_CLASSSTRING,
         {"9Lives.Cat"}},
        {"malformed CLSID",
         create("{11111111-2222-3333-4444-55555555555}"),
         hr::CO_E_CLASSSTRING,
         {"{11111111-2222-3333-4444-55555555555}"}},
        {"CLSID without closing brace",
         create("{11111111-2222-3333-4444-555555555555"),
         hr::CO_E_CLASSSTRING,
         {}},
        {"unregistered CLSID",
         create("{00000000-0000-0000-0000-000000000001}"),
         hr::REGDB_E_CLASSNOTREG,
         {"{00000000-0000-0000-0000-000000000001}"}},
        {"missing server by ProgID",
         create("Test.MissingServer"),
         hr::ERROR_MOD_NOT_FOUND,
         {gone, "No such file"}},
        {"missing server by CLSID",
         create(com::FormatGuid(kMissingServerClass)),
         hr::ERROR_MOD_NOT_FOUND,
         {gone}},
        {"server without DllGetClassObject",
         create("Test.NotAServer"),
         hr::ERROR_PROC_NOT_FOUND,
         {NO_ENTRY_POINTS_DLL, "DllGetClassObject"}},
        {"ProgID lookup of unknown class",
         [this] { com::ClassIdFromProgId(registry, "Nobody.Here"); },
         hr::REGDB_E_CLASSNOTREG,
         {"Nobody.Here"}},
        {"ProgID lookup of a CLSID text",
         [this] { com::ClassIdFromProgId(registry, com::FormatGuid(kNotAServerClass)); },
         hr::CO_E_CLASSSTRING,
         {}},
        {"self-registration of a missing file",
         [&] { com::RegisterServer(gone); },
         hr::ERROR_MOD_NOT_FOUND,
         {gone}},
        {"self-registration without the entry",
         [] { com::RegisterServer(NO_ENTRY_POINTS_DLL); },
         hr::ERROR_PROC_NOT_FOUND,
         {NO_ENTRY_POINTS_DLL, "DllRegisterServer"}},
        {"self-unregistration without the entry",
         [] { com::UnregisterServer(NO_ENTRY_POINTS_DLL); },
         hr::ERROR_PROC_NOT_FOUND,
         {NO_ENTRY_POINTS_DLL, "DllUnregisterServer"}},
        {"a file that is no shared library",
         [this] {
             const auto bogus = folder.Path() / "Bogus.dll";
             std::ofstream(bogus) << "not an ELF file";
             com::ServerModule::Load(bogus);
         },
         hr::ERROR_MOD_NOT_FOUND,
         {"Bogus.dll"}},
    };
    for (const auto& c : cases)
        Expect(c);
}

TEST_F(ActivationFailures, ClassTextsResolveByProgIdOrClassId) {
    EXPECT_EQ(com::ClassIdFromText(registry, "test.notaserver"), kNotAServerClass);
    EXPECT_EQ(com::ClassIdFromText(registry, com::FormatGuid(kMissingServerClass)),
              kMissingServerClass);
    // A CLSID text resolves even unregistered; creation is what needs the registration.
    const auto other = com::ParseGuid("{00000000-0000-0000-0000-000000000009}");
    EXPECT_EQ(com::ClassIdFromText(registry, "{00000000-0000-0000-0000-000000000009}"), *other);
}

TEST(ServerModule, LoadsOnceAndFindsExports) {
    const auto first = com::ServerModule::Load(NO_ENTRY_POINTS_DLL);
    const auto second = com::ServerModule::Load(NO_ENTRY_POINTS_DLL);
    const auto answer = reinterpret_cast<int (*)()>(first.Entry("LorvantaFixtureAnswer"));
    EXPECT_EQ(answer(), 42);
    EXPECT_EQ(second.Entry("LorvantaFixtureAnswer"), first.Entry("LorvantaFixtureAnswer"));
    EXPECT_EQ(com::ModulePathContaining(reinterpret_cast<const void*>(answer)),
              fs::canonical(NO_ENTRY_POINTS_DLL));
}

} // namespace
