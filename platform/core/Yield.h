#pragma once

// Long platform operations (a directory search that reads many pages) call YieldToCaller between
// their steps, so that a windowed program can keep handling its events meanwhile, as a window
// thread does while it waits in a call on the real platform. The hook belongs to the calling
// thread; threads without one do not yield.

#include <functional>

namespace platform {

using YieldHook = std::function<void()>;

// Installs the calling thread's hook; returns the one it replaces.
YieldHook SetYieldHook(YieldHook hook);

void YieldToCaller();

// Installs a hook for the calling thread for its lifetime.
class ScopedYieldHook {
public:
    explicit ScopedYieldHook(YieldHook hook) : previous_(SetYieldHook(std::move(hook))) {}
    ~ScopedYieldHook() { SetYieldHook(std::move(previous_)); }
    ScopedYieldHook(const ScopedYieldHook&) = delete;
    ScopedYieldHook& operator=(const ScopedYieldHook&) = delete;

private:
    YieldHook previous_;
};

} // namespace platform
