#pragma once

// SEARCH criteria (RFC 3501 section 6.4.4): read from a command's arguments into a tree, then
// tried on each message. Texts match as substrings without regard to letter case, non-ASCII
// letters included, as the store compares names.

#include "server/imap/ImapBackend.h"
#include "server/imap/ImapCommand.h"
#include "server/imap/ImapSequenceSet.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace server::imap {

struct SearchKey {
    enum class Kind {
        All,
        And,     // children
        Or,      // two children
        Not,     // one child
        Numbers, // sequence numbers in `set`
        Uids,    // UIDs in `set`
        Flag,    // `flag` set (or clear when `negated`)
        Keyword, // `text` present (or absent when `negated`)
        Header,  // field `field` holds `text`
        Body,
        Text,
        Since,
        Before,
        On,
        SentSince,
        SentBefore,
        SentOn,
        Larger,
        Smaller,
        Recent, // (or not recent when `negated`)
        Modseq, // RFC 7162: a mod-sequence of at least `modseq`
    };
    Kind kind = Kind::All;
    bool negated = false;
    unsigned flag = 0;
    std::string field;
    std::string text;
    long long number = 0; // a day (days since 1970) or a size
    std::uint64_t modseq = 0;
    std::optional<SequenceSet> set;
    std::vector<SearchKey> children;
};

struct SearchRequest {
    SearchKey key;
    std::string error; // non-empty: the criteria could not be read
    bool badCharset = false;
    // Some criterion is MODSEQ: the answer names the highest mod-sequence found.
    bool modseq = false;
};

// Reads "[CHARSET name] key..." from the arguments starting at `first`.
SearchRequest ParseSearch(const std::vector<Argument>& arguments, std::size_t first);

// What a criterion may look at.
struct SearchSubject {
    std::uint32_t number = 0; // sequence number
    std::uint32_t largestNumber = 0;
    std::uint32_t largestUid = 0;
    bool recent = false;
    const MessageSummary* summary = nullptr;
    // The whole message, read only when a criterion needs the body.
    std::function<const std::string&()> message;
};

bool Matches(const SearchKey& key, const SearchSubject& subject);

// Days since 1970 of an IMAP date ("1-Feb-1994"), if it is one.
std::optional<long long> ParseSearchDate(std::string_view text);

} // namespace server::imap
