#include "platform/core/Error.h"

namespace platform {

Error::Error(std::int32_t number, std::string description)
    : std::runtime_error(description), number_(number), description_(std::move(description)) {
}

} // namespace platform
