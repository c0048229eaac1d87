#pragma once

// What FETCH returns of a stored message, written the IMAP way: the ENVELOPE and BODYSTRUCTURE
// (RFC 3501 section 7.4.2) and the parts that BODY[section] names. The message is the bytes a
// client receives: the header block, an empty line and the body, CRLF line ends. Reading the
// message (its header block, fields, addresses and MIME parts) is the message library's.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace server::imap {

// The ENVELOPE of a header block, parenthesised.
std::string Envelope(std::string_view header);
// BODYSTRUCTURE (extended) or BODY (without extension data) of a message.
std::string BodyStructure(std::string_view message, bool extended);

// The bytes of a BODY[...] section ("", "HEADER", "HEADER.FIELDS", "HEADER.FIELDS.NOT", "TEXT",
// "1.2", "1.2.HEADER", "1.MIME", ...); nothing when the section names no part. `fields` lists
// the field names of HEADER.FIELDS(.NOT).
std::optional<std::string> SectionBytes(std::string_view message, std::string_view section,
                                        const std::vector<std::string>& fields);

} // namespace server::imap
