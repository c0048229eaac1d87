// Platform failures: the number and description every failing call carries, and the number's
// "0x80004005" text form.

#include "platform/core/Error.h"

#include <cstdio>

namespace platform {

std::string FailureNumberText(std::int32_t number) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(number));
    return text;
}

Error::Error(std::int32_t number, std::string description)
    : std::runtime_error(description), number_(number), description_(std::move(description)) {
}

} // namespace platform
