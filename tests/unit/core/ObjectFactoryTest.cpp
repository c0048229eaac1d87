// Creation by ProgID, the values objects hand out, and the yield hook of long operations.

#include "platform/core/ObjectFactory.h"
#include "platform/core/Error.h"
#include "platform/core/Variant.h"
#include "platform/core/Yield.h"
#include "testsupport/FailureOf.h"

#include <gtest/gtest.h>

#include <thread>

using platform::CreateObject;
using platform::Error;
using platform::Object;
using platform::ScopedObjectFactory;
using platform::ScopedYieldHook;
using platform::Variant;
using platform::YieldToCaller;

namespace {

struct Widget : Object {
    explicit Widget(int id) : id(id) {}
    std::string TypeName() const override { return "Widget"; }
    int id;
};

platform::ObjectFactory MakeWidget(int id) {
    return [id] { return std::make_shared<Widget>(id); };
}

std::int32_t NumberOf(const std::function<void()>& call) {
    return testsupport::FailureOf(call).number;
}

TEST(ObjectFactory, ProgIdsIgnoreCaseAndScopesNestAndRestore) {
    {
        ScopedObjectFactory outer("Test.Widget", MakeWidget(1));
        {
            ScopedObjectFactory inner("test.WIDGET", MakeWidget(2));
            EXPECT_EQ(platform::CreateObjectAs<Widget>("Test.Widget")->id, 2);
        }
        EXPECT_EQ(platform::CreateObjectAs<Widget>("TEST.widget")->id, 1);
    }
    EXPECT_EQ(NumberOf([] { CreateObject("Test.Widget"); }), platform::hr::REGDB_E_CLASSNOTREG);
}

TEST(ObjectFactory, FailuresCarryTheirNumbers) {
    struct Gadget : Object {
        std::string TypeName() const override { return "Gadget"; }
    };
    ScopedObjectFactory gadget("Test.Gadget", [] { return std::make_shared<Gadget>(); });
    ScopedObjectFactory broken("Test.Broken", []() -> std::shared_ptr<Object> {
        throw Error(platform::hr::E_OUTOFMEMORY, "no room");
    });
    EXPECT_EQ(NumberOf([] { platform::CreateObjectAs<Widget>("Test.Gadget"); }),
              platform::hr::E_NOINTERFACE);
    EXPECT_EQ(NumberOf([] { CreateObject("Test.Broken"); }), platform::hr::E_OUTOFMEMORY);
    const auto unknown = testsupport::FailureOf([] { CreateObject("Nobody.Here"); });
    EXPECT_EQ(unknown.number, platform::hr::REGDB_E_CLASSNOTREG);
    EXPECT_NE(unknown.description.find("Nobody.Here"), std::string::npos);
}

TEST(Variant, ToTextFollowsScriptRules) {
    struct Case {
        Variant value;
        std::string text;
    } cases[] = {
        {Variant(), ""},         {Variant::Null(), ""},     {Variant("abc"), "abc"},
        {Variant(true), "True"}, {Variant(false), "False"}, {Variant(-7), "-7"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.value.ToText(), c.text) << c.value.TypeName();
}

TEST(Variant, WrongKindIsATypeMismatch) {
    const auto failure = testsupport::FailureOf([] {
        (void)Variant(Variant::TextArray{"a", "b"}).ToText();
    });
    EXPECT_EQ(failure.number, platform::hr::DISP_E_TYPEMISMATCH);
    EXPECT_NE(failure.description.find("String()"), std::string::npos) << failure.description;
    EXPECT_THROW((void)Variant("x").Array(), Error);
    EXPECT_THROW((void)Variant::Null().Text(), Error);
    EXPECT_THROW((void)Variant(1).Bool(), Error);
    EXPECT_THROW((void)Variant(true).Integer(), Error);
}

TEST(Yield, OnlyTheThreadWithAHookYieldsAndOnlyOnceAtATime) {
    int calls = 0;
    {
        ScopedYieldHook outer([&] {
            ++calls;
            YieldToCaller(); // a hook that lands in a long operation does not recurse
        });
        YieldToCaller();
        EXPECT_EQ(calls, 1);

        std::thread other([] { YieldToCaller(); }); // no hook on that thread
        other.join();
        EXPECT_EQ(calls, 1);

        {
            ScopedYieldHook inner([&] { calls += 10; });
            YieldToCaller();
            EXPECT_EQ(calls, 11);
        }
        YieldToCaller(); // the outer hook is back
        EXPECT_EQ(calls, 12);
    }
    YieldToCaller();
    EXPECT_EQ(calls, 12);
}

TEST(Yield, AThrowingHookLeavesYieldingPossible) {
    int calls = 0;
    ScopedYieldHook hook([&] {
        if (++calls == 1)
            throw std::runtime_error("first");
    });
    EXPECT_THROW(YieldToCaller(), std::runtime_error);
    YieldToCaller();
    EXPECT_EQ(calls, 2);
}

} // namespace
