#include "platform/core/Moniker.h"

#include <gtest/gtest.h>

namespace {

class Named : public platform::Object {
public:
    explicit Named(std::string path) : path(std::move(path)) {}
    std::string TypeName() const override { return "Named"; }
    std::string path;
};

} // namespace

TEST(Moniker, ThePrefixPicksTheHandlerIgnoringCase) {
    platform::ScopedMonikerHandler test(
        "TEST:", [](const std::string& path) { return std::make_shared<Named>("test " + path); });
    platform::ScopedMonikerHandler other(
        "OTHER:", [](const std::string& path) { return std::make_shared<Named>("other " + path); });
    EXPECT_EQ(platform::GetObjectAs<Named>("TEST://a/b")->path, "test TEST://a/b");
    EXPECT_EQ(platform::GetObjectAs<Named>("test:x")->path, "test test:x");
    EXPECT_EQ(platform::GetObjectAs<Named>("Other://y")->path, "other Other://y");
}

TEST(Moniker, UnknownPrefixesAndMissingObjectsFail) {
    platform::ScopedMonikerHandler empty(
        "EMPTY:", [](const std::string&) { return std::shared_ptr<platform::Object>(); });
    for (const std::string path : {"NOPE://x", "no prefix", "EMPTY://x"})
        EXPECT_THROW(platform::GetObject(path), platform::Error) << path;
}

TEST(Moniker, ScopesRestoreThePreviousHandler) {
    platform::ScopedMonikerHandler outer(
        "NEST:", [](const std::string&) { return std::make_shared<Named>("outer"); });
    {
        platform::ScopedMonikerHandler inner(
            "nest:", [](const std::string&) { return std::make_shared<Named>("inner"); });
        EXPECT_EQ(platform::GetObjectAs<Named>("NEST:x")->path, "inner");
    }
    EXPECT_EQ(platform::GetObjectAs<Named>("NEST:x")->path, "outer");
}

TEST(Moniker, TheInterfaceAskedForMustBeOffered) {
    class Other : public platform::Object {
    public:
        std::string TypeName() const override { return "Other"; }
    };
    platform::ScopedMonikerHandler handler(
        "IF:", [](const std::string&) { return std::make_shared<Other>(); });
    try {
        platform::GetObjectAs<Named>("IF:x");
        FAIL() << "expected E_NOINTERFACE";
    } catch (const platform::Error& error) {
        EXPECT_EQ(error.Number(), platform::hr::E_NOINTERFACE);
    }
}
