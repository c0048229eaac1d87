#pragma once

// FETCH data items (RFC 3501 section 6.4.5): read from the command, then written for one
// message.

#include "server/imap/ImapBackend.h"
#include "server/imap/ImapCommand.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace server::imap {

struct FetchItem {
    enum class Kind {
        Flags,
        Uid,
        InternalDate,
        Size,
        Envelope,
        BodyStructure,
        Body, // BODY without a section: the structure without extension data
        Section,
        Modseq, // RFC 7162's MODSEQ
    };
    Kind kind = Kind::Flags;
    // Section:
    std::string section;             // "HEADER.FIELDS", "1.TEXT", "" ...
    std::vector<std::string> fields; // of HEADER.FIELDS(.NOT)
    bool peek = false;               // sets no \Seen
    std::optional<std::pair<std::uint64_t, std::uint64_t>> partial; // start, count
    std::string label; // how the response names it ("BODY[HEADER]", "RFC822")
};

struct FetchRequest {
    std::vector<FetchItem> items;
    std::string error;
    // Some item reads the message's text and sets \Seen.
    bool setsSeen = false;
    // Some item needs the message's text (not only the summary).
    bool needsMessage = false;
    // Some item needs all of the text, however large (BODYSTRUCTURE, or all of the message or
    // of its TEXT); the others read only what they need of a large message.
    bool needsWhole = false;
};

// Where a FETCH response reads a message's text from.
class MessageText {
public:
    virtual ~MessageText() = default;
    // The whole message; null when it has gone.
    virtual const std::string* Whole() = 0;
    // Whether the whole message has been read already: sections are then cut from it.
    virtual bool HasWhole() const = 0;
    // Up to `count` octets from `offset` on (fewer at the end); nothing when it has gone.
    virtual std::optional<std::string> Range(std::uint64_t offset, std::uint64_t count) = 0;
};

// Reads the items argument (an atom, a macro such as ALL, or a list).
FetchRequest ParseFetchItems(const Argument& argument);

// RFC 7162's FETCH modifiers, as a parenthesised list after the items.
struct FetchModifiers {
    std::optional<std::uint64_t> changedSince; // only messages of a higher mod-sequence
    bool vanished = false; // QRESYNC's VANISHED: also the UIDs of the set no message has
    std::string error;
};
FetchModifiers ParseFetchModifiers(const Argument& argument);

// A mod-sequence as a command gives it (RFC 7162's mod-sequence-valzer: 0 and up, 63 bits).
std::optional<std::uint64_t> ParseModseq(const Argument& argument);

// Appends "(UID 4 FLAGS (\Seen) ...)" for one message, reading of `text` only what the items
// need; false, with `out` partly written, when the message has gone.
bool AppendFetchResponse(std::string& out, const std::vector<FetchItem>& items,
                         const MessageSummary& summary, MessageText& text);

// "17-Jul-1996 02:44:25 +0000".
std::string InternalDateText(long long seconds);
// The reverse, for APPEND: RFC 3501's date-time ("07-Dec-2026 10:00:00 +0200", the day may be
// " 7"), as seconds since 1970 (UTC); nothing for another text or a day that does not exist.
std::optional<long long> ParseInternalDate(std::string_view text);

} // namespace server::imap
