// The yield hook: only the thread that set one yields, a hook never yields again from inside
// itself, a scoped hook restores the one before, and a throwing hook leaves yielding possible.

#include "platform/core/Yield.h"

#include <gtest/gtest.h>

#include <thread>

using platform::ScopedYieldHook;
using platform::YieldToCaller;

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
