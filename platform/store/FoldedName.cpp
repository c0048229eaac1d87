#include "platform/store/FoldedName.h"

#include <unicode/unistr.h>

#include <algorithm>

namespace platform::store {

std::string FoldedName(std::string_view name) {
    if (std::all_of(name.begin(), name.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        std::string key(name);
        for (auto& c : key)
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c + 32);
        return key;
    }
    std::string key;
    icu::UnicodeString::fromUTF8(icu::StringPiece(name.data(), static_cast<int32_t>(name.size())))
        .foldCase()
        .toUTF8String(key);
    return key;
}

} // namespace platform::store
