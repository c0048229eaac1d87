// Builds the store's filing key for a name with ICU's case folding.

#include "platform/store/FoldedName.h"
#include "platform/core/Text.h"

#include <unicode/unistr.h>

#include <algorithm>

namespace platform::store {

std::string FoldedName(std::string_view name) {
    if (std::all_of(name.begin(), name.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        return text::AsciiLower(std::string(name));
    }
    std::string key;
    icu::UnicodeString::fromUTF8(icu::StringPiece(name.data(), static_cast<int32_t>(name.size())))
        .foldCase()
        .toUTF8String(key);
    return key;
}

} // namespace platform::store
