// Finds the mailbox a saved item belongs to from the item's URL.

#include "sink/LorvantaModule.h"

namespace lorvanta {

std::string GetMailboxName(std::string_view itemUrl) {
    try {
        // Three separators, searched backwards; none of them may be the first character.
        std::size_t separators[3];
        std::size_t searchEnd = std::string_view::npos;
        for (auto& position : separators) {
            position = itemUrl.rfind('/', searchEnd);
            if (position == std::string_view::npos || position == 0)
                return std::string(itemUrl);
            searchEnd = position - 1;
        }
        const auto start = separators[2] + 1;
        return std::string(itemUrl.substr(start, separators[1] - start));
    } catch (...) {
        return {};
    }
}

} // namespace lorvanta
