// Creating classes by ProgID or class ID: the failures carry the platform's numbers and name
// what failed, since the store logs them and the setup program shows them.

#include "platform/com/Activation.h"

#include "platform/com/Guid.h"
#include "platform/core/Error.h"
#include "testsupport/FailureOf.h"
#include "testsupport/ScopedServerFolder.h"

#include <gmock/gmock.h>

#include <functional>

namespace com = platform::com;
namespace hr = platform::hr;
using ::testing::HasSubstr;

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
        {"empty text", create(""), hr::CO_E_CLASSSTRING, {}},
        {"malformed CLSID",
         create("{11111111-2222-3333-4444-55555555555}"),
         hr::CO_E_CLASSSTRING,
         {"{11111111-2222-3333-4444-55555555555}"}},
        {"unregistered CLSID",
         create("{00000000-0000-0000-0000-000000000001}"),
         hr::REGDB_E_CLASSNOTREG,
         {"{00000000-0000-0000-0000-000000000001}"}},
        {"missing server by ProgID",
         create("Test.MissingServer"),
         hr::ERROR_MOD_NOT_FOUND,
         {gone, "No such file"}},
        {"server without DllGetClassObject",
         create("Test.NotAServer"),
         hr::ERROR_PROC_NOT_FOUND,
         {NO_ENTRY_POINTS_DLL, "DllGetClassObject"}},
        {"self-registration without the entry",
         [] { com::RegisterServer(NO_ENTRY_POINTS_DLL); },
         hr::ERROR_PROC_NOT_FOUND,
         {NO_ENTRY_POINTS_DLL, "DllRegisterServer"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto failure = testsupport::FailureOf(c.call);
        EXPECT_EQ(failure.number, c.number) << std::hex << failure.number;
        for (const auto& text : c.described)
            EXPECT_THAT(failure.description, HasSubstr(text));
    }
}

} // namespace
