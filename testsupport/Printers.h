#pragma once

// Readable values in test failure messages.

#include "platform/core/Variant.h"

#include <ostream>

namespace platform {

inline void PrintTo(const Variant& value, std::ostream* out) {
    *out << value.TypeName();
    if (value.IsArray()) {
        *out << "{";
        for (const auto& element : value.Array())
            *out << " \"" << element << "\"";
        *out << " }";
    } else if (!value.IsEmpty() && !value.IsNull()) {
        *out << " \"" << value.ToText() << "\"";
    }
}

} // namespace platform
