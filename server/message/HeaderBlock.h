#pragma once

// A stored message or body part split into its header block and its body, and the fields of a
// header block. Where the header block ends is delivery's rule (platform/store's
// FindHeaderBlock): the first line that is neither a field nor a continuation starts the body,
// so every reader sees the header that delivery stored.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace server::message {

struct HeaderField {
    std::string name;     // as written
    std::string_view raw; // the field's lines, continuations and line ends included
    std::string value;    // unfolded, leading and trailing spaces and tabs removed
};

// The fields of a header block, up to where the block ends by delivery's rule.
std::vector<HeaderField> ReadHeaderFields(std::string_view header);

// A message or body part: its header block (the empty line that ends it included, if one does)
// and its body.
struct Entity {
    std::string_view header;
    std::string_view body;
};
Entity SplitEntity(std::string_view bytes);

// The first value of a field, if present (names compare without regard to letter case).
std::optional<std::string> FieldValue(const std::vector<HeaderField>& fields,
                                      std::string_view name);

} // namespace server::message
