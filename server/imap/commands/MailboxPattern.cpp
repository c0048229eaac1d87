// Matched a pattern character at a time over every prefix of the name, so that a pattern of many
// wildcards costs its length times the name's, never an exponential search or deep recursion.

#include "server/imap/commands/MailboxPattern.h"

#include <algorithm>
#include <vector>

namespace server::imap {

bool MatchesPattern(std::string_view name, std::string_view pattern, char delimiter) {
    // matched[i]: the pattern so far matches the first i bytes of the name.
    std::vector<char> matched(name.size() + 1, 0), next(name.size() + 1);
    matched[0] = 1;
    for (const char p : pattern) {
        std::fill(next.begin(), next.end(), 0);
        if (p == '*' || p == '%') {
            bool reached = false;
            for (std::size_t i = 0; i <= name.size(); ++i) {
                reached = reached || matched[i];
                next[i] = reached;
                if (p == '%' && i < name.size() && name[i] == delimiter)
                    reached = false;
            }
        } else {
            for (std::size_t i = 0; i < name.size(); ++i)
                next[i + 1] = matched[i] && name[i] == p;
        }
        matched.swap(next);
    }
    return matched[name.size()];
}

} // namespace server::imap
