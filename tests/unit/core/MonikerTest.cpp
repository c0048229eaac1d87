// Binding by path ("GC://RootDSE", "LDAP://..."): the prefix picks the handler in any letter case.

#include "platform/core/Moniker.h"

#include <gtest/gtest.h>

namespace {

class Named : public platform::Object {
public:
    explicit Named(std::string path) : path(std::move(path)) {}
    std::string TypeName() const override { return "Named"; }
    std::string path;
};

TEST(Moniker, ThePrefixPicksTheHandlerIgnoringCaseAndScopesRestoreTheOuterOne) {
    const auto handler = [](std::string name) {
        return [name](const std::string& path) { return std::make_shared<Named>(name + path); };
    };
    platform::ScopedMonikerHandler test("TEST:", handler("test "));
    platform::ScopedMonikerHandler other("OTHER:", handler("other "));
    EXPECT_EQ(platform::GetObjectAs<Named>("test:x")->path, "test test:x");
    EXPECT_EQ(platform::GetObjectAs<Named>("Other://y")->path, "other Other://y");
    {
        platform::ScopedMonikerHandler inner("Test:", handler("inner "));
        EXPECT_EQ(platform::GetObjectAs<Named>("TEST:x")->path, "inner TEST:x");
    }
    EXPECT_EQ(platform::GetObjectAs<Named>("TEST:x")->path, "test TEST:x");
}

TEST(Moniker, UnknownPrefixesAndMissingObjectsFail) {
    platform::ScopedMonikerHandler empty(
        "EMPTY:", [](const std::string&) { return std::shared_ptr<platform::Object>(); });
    for (const std::string path : {"NOPE://x", "no prefix", "EMPTY://x"})
        EXPECT_THROW(platform::GetObject(path), platform::Error) << path;
}

} // namespace
