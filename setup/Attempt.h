#pragma once

// The module operations stop at the first failing platform call: run the steps and hand back
// the failure that stopped them, if any.

#include "platform/core/Error.h"

#include <exception>
#include <optional>

namespace lorvanta::setup {

template <class Steps> std::optional<platform::Error> Attempt(Steps&& steps) {
    try {
        steps();
        return std::nullopt;
    } catch (const platform::Error& error) {
        return error;
    } catch (const std::exception& error) {
        // Anything else the platform throws (out of memory, ...) stops the operation the same way.
        return platform::Error(platform::hr::E_FAIL, error.what());
    }
}

} // namespace lorvanta::setup
