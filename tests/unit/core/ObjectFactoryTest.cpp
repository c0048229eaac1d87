#include "platform/core/ObjectFactory.h"

#include <gtest/gtest.h>

using platform::CreateObject;
using platform::Error;
using platform::Object;
using platform::ScopedObjectFactory;

namespace {
struct Widget : Object {
    explicit Widget(int id) : id(id) {}
    std::string TypeName() const override { return "Widget"; }
    int id;
};
struct Gadget : Object {
    std::string TypeName() const override { return "Gadget"; }
};
platform::ObjectFactory MakeWidget(int id) {
    return [id] { return std::make_shared<Widget>(id); };
}
} // namespace

TEST(ObjectFactory, UnknownProgIdIsClassNotRegistered) {
    try {
        CreateObject("Nobody.Here");
        FAIL();
    } catch (const Error& error) {
        EXPECT_EQ(error.Number(), platform::hr::REGDB_E_CLASSNOTREG);
        EXPECT_NE(error.Description().find("Nobody.Here"), std::string::npos);
    }
}

TEST(ObjectFactory, ProgIdsIgnoreCase) {
    ScopedObjectFactory scope("Test.Widget", MakeWidget(1));
    EXPECT_EQ(platform::CreateObjectAs<Widget>("test.WIDGET")->id, 1);
}

TEST(ObjectFactory, ScopesNestAndRestore) {
    {
        ScopedObjectFactory outer("Test.Widget", MakeWidget(1));
        {
            ScopedObjectFactory inner("Test.Widget", MakeWidget(2));
            EXPECT_EQ(platform::CreateObjectAs<Widget>("Test.Widget")->id, 2);
        }
        EXPECT_EQ(platform::CreateObjectAs<Widget>("Test.Widget")->id, 1);
    }
    EXPECT_THROW(CreateObject("Test.Widget"), Error);
}

TEST(ObjectFactory, WrongInterfaceIsNoInterface) {
    ScopedObjectFactory scope("Test.Gadget", [] { return std::make_shared<Gadget>(); });
    try {
        platform::CreateObjectAs<Widget>("Test.Gadget");
        FAIL();
    } catch (const Error& error) {
        EXPECT_EQ(error.Number(), platform::hr::E_NOINTERFACE);
    }
}

TEST(ObjectFactory, FactoryFailurePassesThrough) {
    ScopedObjectFactory scope("Test.Broken", []() -> std::shared_ptr<Object> {
        throw Error(platform::hr::E_OUTOFMEMORY, "no room");
    });
    try {
        CreateObject("Test.Broken");
        FAIL();
    } catch (const Error& error) {
        EXPECT_EQ(error.Number(), platform::hr::E_OUTOFMEMORY);
    }
}
