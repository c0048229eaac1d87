#pragma once

// How values are written into responses, and how the store's flags and keywords appear as
// IMAP flags.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace server::imap {

// A string as a quoted string when it can be one (printable ASCII), else as a literal.
std::string Quote(std::string_view text);
// NIL for nothing, else Quote.
std::string NString(const std::optional<std::string>& text);

// A folder name as IMAP clients expect it: modified UTF-7 (RFC 3501 section 5.1.3), so that
// "Entwürfe & Co" is "Entw&APw-rfe &- Co"; ASCII names without "&" stay as they are.
std::string MailboxNameOf(std::string_view utf8);
// The reverse, for a name a client sends: nothing when it is not modified UTF-7 as
// MailboxNameOf writes it (control characters, a stray "&", an encoding of plain ASCII).
std::optional<std::string> Utf8OfMailboxName(std::string_view name);

// The system flags the store keeps for every message.
enum SystemFlag : unsigned {
    kSeen = 1,
    kAnswered = 2,
    kFlagged = 4,
    kDeleted = 8,
    kDraft = 16,
};
inline constexpr unsigned kAllSystemFlags = 31;

// "\Seen" and its kin, in any letter case; nothing for another text.
std::optional<SystemFlag> SystemFlagNamed(std::string_view name);
// "(\Seen \Flagged kw1 kw2)": the flags in a fixed order, then the keywords as atoms.
std::string FlagList(unsigned flags, const std::vector<std::string>& keywords);
void AppendFlagList(std::string& out, unsigned flags, const std::vector<std::string>& keywords);

// A keyword of the store shown as an IMAP flag atom. Keywords are free text (the sink writes
// mail addresses, which are atoms already); a byte that may not stand in an atom, "&", a
// leading "\" and every byte outside printable ASCII are written "&" and two upper-case hex
// digits, so "Work list" becomes "Work&20list" and "&" itself "&26". An empty keyword is "&".
std::string KeywordAtom(std::string_view keyword);
// The reverse: the keyword an atom stands for. An "&" not followed by two hex digits stands
// for itself, so that any atom a client sends names some keyword.
std::string KeywordOfAtom(std::string_view atom);

} // namespace server::imap
