#pragma once

// The error a call raised, so that a test checks it in one line per property: number 0 and an
// empty description when the call returned.

#include "platform/core/Error.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace testsupport {

struct Failure {
    std::int32_t number = 0;
    std::string description;
};

inline Failure FailureOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const platform::Error& error) {
        return {error.Number(), error.Description()};
    }
    return {};
}

// The call fails with that number and a description that holds `says`.
inline void ExpectRefused(const std::function<void()>& call, std::int32_t number,
                          const std::string& says) {
    const auto failure = FailureOf(call);
    EXPECT_EQ(failure.number, number);
    EXPECT_NE(failure.description.find(says), std::string::npos)
        << failure.description.substr(0, 200);
}

} // namespace testsupport
