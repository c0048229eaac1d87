// The class registry, GUID text, and creating classes through it (the store logs its failures).

#include "platform/com/ClassRegistry.h"

#include "platform/com/Activation.h"

#include "platform/com/Guid.h"
#include "platform/core/Error.h"
#include "testsupport/FailureOf.h"
#include "testsupport/FileText.h"
#include "testsupport/ScopedServerFolder.h"

#include <gmock/gmock.h>

#include <fstream>
#include <functional>
#include <thread>

namespace com = platform::com;
namespace hr = platform::hr;
using com::ClassRegistration;
using com::ClassRegistry;
using com::FormatGuid;
using com::GUID;
using com::ParseGuid;
using ::testing::HasSubstr;

namespace {

com::CLSID MakeClassId(std::uint32_t n) {
    return {n, 0x1234, 0x5678, {0x9A, 0xBC, 0xDE, 0xF0, 0x12, 0x34, 0x56, 0x78}};
}

ClassRegistration MakeClass(std::uint32_t n, std::string progId) {
    return {MakeClassId(n), std::move(progId), "Apartment",
            "/opt/servers/server" + std::to_string(n) + ".dll"};
}

class ClassRegistryTest : public ::testing::Test {
protected:
    testsupport::ScopedServerFolder folder;
    ClassRegistry registry{folder.ComDir()};
};

TEST_F(ClassRegistryTest, RegisteredClassesAreFoundByClassIdAndProgId) {
    const auto first = MakeClass(1, "Lib.First");
    const auto second = MakeClass(2, "Lib.Second");
    registry.Register(first);
    registry.Register(second);

    EXPECT_EQ(registry.FindByClassId(first.clsid), first);
    EXPECT_EQ(registry.FindByClassId(second.clsid), second);
    EXPECT_EQ(registry.FindByProgId("Lib.Second"), second);
    EXPECT_EQ(registry.FindByProgId("LIB.first"), first) << "ProgIDs ignore letter case";
    EXPECT_EQ(registry.List(), (std::vector<ClassRegistration>{first, second}));
    EXPECT_EQ(ClassRegistry::FromEnvironment().FindByProgId("Lib.Second"), second)
        << "another registry on the same folder sees the classes";
}

TEST_F(ClassRegistryTest, RegisteringAgainReplacesTheEntryWithTheSameClassIdOrProgId) {
    registry.Register(MakeClass(1, "Lib.First"));
    registry.Register(MakeClass(2, "Lib.Second"));

    auto moved = MakeClass(1, "Lib.Renamed");
    moved.server = "/elsewhere/first.dll";
    registry.Register(moved);
    auto taken = MakeClass(3, "LIB.SECOND"); // same ProgID, other letter case, new class
    registry.Register(taken);

    EXPECT_EQ(registry.List(), (std::vector<ClassRegistration>{moved, taken}));
    EXPECT_FALSE(registry.FindByProgId("Lib.First"));
    EXPECT_FALSE(registry.FindByClassId(MakeClassId(2)));
}

TEST_F(ClassRegistryTest, UnregisterRemovesOnlyThatClass) {
    registry.Register(MakeClass(1, "Lib.First"));
    registry.Register(MakeClass(2, "Lib.Second"));
    EXPECT_TRUE(registry.Unregister(MakeClassId(1)));
    EXPECT_FALSE(registry.Unregister(MakeClassId(1)));
    EXPECT_EQ(registry.List(), std::vector<ClassRegistration>{MakeClass(2, "Lib.Second")});
}

TEST_F(ClassRegistryTest, InvalidEntriesAreRefusedAndNothingIsWritten) {
    struct Case {
        ClassRegistration entry;
        std::int32_t number;
    };
    auto with = [](auto field, const char* value) {
        auto entry = MakeClass(1, "Lib.Class");
        entry.*field = value;
        return entry;
    };
    const auto model = &ClassRegistration::threadingModel;
    const auto server = &ClassRegistration::server;
    const Case cases[] = {
        {MakeClass(1, "Lib Class"), hr::CO_E_CLASSSTRING}, {with(model, ""), hr::E_INVALIDARG},
        {with(model, "Apart\tment"), hr::E_INVALIDARG},    {with(server, ""), hr::E_INVALIDARG},
        {with(server, "/a/b\nc.dll"), hr::E_INVALIDARG},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("\"" + c.entry.progId + "\" " + c.entry.threadingModel + " " +
                     c.entry.server.string());
        EXPECT_EQ(testsupport::FailureOf([&] { registry.Register(c.entry); }).number, c.number);
    }
    EXPECT_TRUE(registry.List().empty());
}

TEST(ProgId, ValidityRules) {
    // The longest valid one has 39 characters.
    for (const char* valid :
         {"Lorvanta.LorvantaCls", "A", "Lib.Class.1", "abcdefghijklmnopqrstuvwxyz0123456789.AB"})
        EXPECT_TRUE(com::IsValidProgId(valid)) << '"' << valid << '"';
    for (const char* invalid : {"abcdefghijklmnopqrstuvwxyz0123456789.ABC", "", "9Lib", "Lib-Class",
                                "Lib Class", "{A5B76DBF-97A8-4208-82D3-F0141D0700C3}"})
        EXPECT_FALSE(com::IsValidProgId(invalid)) << '"' << invalid << '"';
}

TEST_F(ClassRegistryTest, AFileReplacedByAnotherWriterIsReadAfresh) {
    registry.Register(MakeClass(1, "Lib.First"));
    ASSERT_TRUE(registry.FindByProgId("Lib.First"));
    // Another process replaces the file the way writers do: a new file renamed into place, here
    // with the same size, so that only the file's identity tells the versions apart.
    auto content = testsupport::FileText(registry.File());
    content.replace(content.find("Lib.First"), 9, "Lib.Frist");
    const auto replacement = folder.ComDir() / "elsewhere";
    std::ofstream(replacement) << content;
    std::filesystem::rename(replacement, registry.File());

    EXPECT_FALSE(registry.FindByProgId("Lib.First"));
    EXPECT_TRUE(registry.FindByProgId("Lib.Frist"));
}

TEST_F(ClassRegistryTest, ConcurrentWritersLoseNoClass) {
    constexpr int kThreads = 4;
    constexpr int kPerThread = 25;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t)
        writers.emplace_back([&, t] {
            // Each thread uses its own registry object, as separate processes would.
            ClassRegistry own(folder.ComDir());
            for (int i = 0; i < kPerThread; ++i) {
                const auto n = static_cast<std::uint32_t>(t * kPerThread + i);
                own.Register(MakeClass(n, "Lib.C" + std::to_string(n)));
                // Readers in the middle of the writes always see a whole file.
                EXPECT_TRUE(own.FindByClassId(MakeClassId(n)));
            }
        });
    for (auto& writer : writers)
        writer.join();

    const auto classes = registry.List();
    EXPECT_EQ(classes.size(), static_cast<std::size_t>(kThreads * kPerThread));
    for (std::uint32_t n = 0; n < kThreads * kPerThread; ++n)
        EXPECT_TRUE(registry.FindByProgId("Lib.C" + std::to_string(n))) << n;
    // No temporary file is left behind.
    for (const auto& entry : std::filesystem::directory_iterator(folder.ComDir()))
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
}

TEST(Guid, KnownValuesFormatAndParseBothWays) {
    const struct {
        const char* text;
        GUID value;
    } known[] = {
        {"{00000000-0000-0000-C000-000000000046}", {0, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}},
        {"{01234567-89AB-CDEF-0123-456789ABCDEF}",
         {0x01234567, 0x89AB, 0xCDEF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}}},
    };
    for (const auto& k : known) {
        EXPECT_EQ(FormatGuid(k.value), k.text);
        EXPECT_EQ(ParseGuid(k.text), k.value) << k.text;
    }
    EXPECT_EQ(ParseGuid("{01234567-89ab-cdef-0123-456789abcdef}"), known[1].value);
}

TEST(Guid, MalformedTextsGiveNoValue) {
    for (const char* text : {
             "",
             "{}",
             "01234567-89AB-CDEF-0123-456789ABCDEF",    // no braces
             "{01234567-89AB-CDEF-0123-456789ABCDEF",   // no closing brace
             "{01234567-89AB-CDEF-0123-456789ABCDEF}x", // trailing text
             "{01234567-89AB-CDEF-0123-456789ABCDE}",   // one digit short
             "{0123456789AB-CDEF-0123-456789ABCDEF0}",  // dash moved
             "{01234567-89AB-CDEF-0123-456789ABCDEG}",  // not a hex digit
             "{0x234567-89AB-CDEF-0123-456789ABCDEF}",  // hex prefix
             "Lorvanta.LorvantaCls",
         })
        EXPECT_FALSE(ParseGuid(text)) << '"' << text << '"';
}

TEST_F(ClassRegistryTest, ActivationFailuresCarryThePlatformNumbersAndNameWhatFailed) {
    const std::string gone = (folder.Path() / "absent" / "Gone.dll").string();
    registry.Register({MakeClassId(1), "Test.MissingServer", "Apartment", gone});
    registry.Register({MakeClassId(2), "Test.NotAServer", "Apartment", NO_ENTRY_POINTS_DLL});
    const std::string kMalformed = "{11111111-2222-3333-4444-55555555555}";
    const std::string kUnregistered = "{00000000-0000-0000-0000-000000000001}";
    const auto create = [this](std::string text) {
        return [this, text] { com::CreateInstance(registry, text, com::IID_IUnknown); };
    };
    const struct {
        const char* name;
        std::function<void()> call;
        std::int32_t number;
        std::vector<std::string> described; // texts the description must name
    } cases[] = {
        {"unknown ProgID", create("Nobody.Here"), hr::REGDB_E_CLASSNOTREG, {"Nobody.Here"}},
        {"empty text", create(""), hr::CO_E_CLASSSTRING, {}},
        {"malformed CLSID", create(kMalformed), hr::CO_E_CLASSSTRING, {kMalformed}},
        {"unregistered CLSID", create(kUnregistered), hr::REGDB_E_CLASSNOTREG, {kUnregistered}},
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
