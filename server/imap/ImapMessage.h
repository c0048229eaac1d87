#pragma once

// What FETCH returns of a stored message, written the IMAP way: the ENVELOPE and BODYSTRUCTURE
// (RFC 3501 section 7.4.2) and the parts that BODY[section] names. The message is the bytes a
// client receives: the header block, an empty line and the body, CRLF line ends. Reading the
// message (its header block, fields, addresses and MIME parts) is the message library's.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace server::imap {

// The ENVELOPE of a header block, parenthesised.
std::string Envelope(std::string_view header);
// BODYSTRUCTURE (extended) or BODY (without extension data) of a message.
std::string BodyStructure(std::string_view message, bool extended);

// Where a BODY[...] section lies in a message: `length` octets from `offset`. Found from the
// message's first octets alone when they are enough: a part that a later boundary line ends is
// known from the octets before that line, a body that runs to the message's end from where it
// starts.
struct SectionPlace {
    enum class Found { Here, Nowhere, NeedsMore };
    Found found = Found::Nowhere;
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};
// `start` is the message's first octets: all `size` of them, or up to the end of a line past
// the header block. HEADER.FIELDS(.NOT) are placed at the header block they pick from.
SectionPlace LocateSection(std::string_view start, std::uint64_t size, std::string_view section);
// The section's bytes from the octets at its place: for HEADER.FIELDS(.NOT) the fields of the
// header block that `fields` names (or the others), for other sections the octets themselves.
std::string SectionText(std::string_view atPlace, std::string_view section,
                        const std::vector<std::string>& fields);

// The bytes of a BODY[...] section ("", "HEADER", "HEADER.FIELDS", "HEADER.FIELDS.NOT", "TEXT",
// "1.2", "1.2.HEADER", "1.MIME", ...); nothing when the section names no part. `fields` lists
// the field names of HEADER.FIELDS(.NOT).
std::optional<std::string> SectionBytes(std::string_view message, std::string_view section,
                                        const std::vector<std::string>& fields);

} // namespace server::imap
