// The calling thread's yield hook, guarded so that a hook that itself yields does not recurse.

#include "platform/core/Yield.h"

namespace platform {

namespace {
thread_local YieldHook threadHook;
thread_local bool yielding = false;
} // namespace

YieldHook SetYieldHook(YieldHook hook) {
    std::swap(threadHook, hook);
    return hook;
}

void YieldToCaller() {
    // A hook that itself ends up in a long platform operation does not yield again inside it.
    if (!threadHook || yielding)
        return;
    yielding = true;
    try {
        threadHook();
    } catch (...) {
        yielding = false;
        throw;
    }
    yielding = false;
}

} // namespace platform
