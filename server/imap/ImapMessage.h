#pragma once

// What FETCH and SEARCH read from a stored message: its header fields, the ENVELOPE and
// BODYSTRUCTURE (RFC 3501 section 7.4.2) and the parts that BODY[section] names. The message is
// the bytes a client receives: the header block, an empty line and the body, CRLF line ends.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace server::imap {

struct HeaderField {
    std::string name;     // as written
    std::string_view raw; // the field's lines, continuations and CRLF included
    std::string value;    // unfolded, leading and trailing blanks removed
};

// The fields of a header block.
std::vector<HeaderField> ReadHeaderFields(std::string_view header);

// A message or body part: its header block (the empty line that ends it included, if any) and
// its body.
struct Entity {
    std::string_view header;
    std::string_view body;
};
Entity SplitEntity(std::string_view bytes);

// The first value of a field, if present (names compare without regard to ASCII case).
std::optional<std::string> FieldValue(const std::vector<HeaderField>& fields,
                                      std::string_view name);

// The ENVELOPE of a header block, parenthesised.
std::string Envelope(std::string_view header);
// BODYSTRUCTURE (extended) or BODY (without extension data) of a message.
std::string BodyStructure(std::string_view message, bool extended);

// The bytes of a BODY[...] section ("", "HEADER", "HEADER.FIELDS", "HEADER.FIELDS.NOT", "TEXT",
// "1.2", "1.2.HEADER", "1.MIME", ...); nothing when the section names no part. `fields` lists
// the field names of HEADER.FIELDS(.NOT).
std::optional<std::string> SectionBytes(std::string_view message, std::string_view section,
                                        const std::vector<std::string>& fields);

// Seconds since 1970 (UTC) of an RFC 5322 date, if it reads as one.
std::optional<long long> ParseMessageDate(std::string_view text);

} // namespace server::imap
