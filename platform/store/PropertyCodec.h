#pragma once

// How property values are kept in the database: a kind number beside the bytes.

#include "platform/core/Variant.h"

#include <cstdint>
#include <string>

namespace platform::store {

enum class PropertyKind : std::int64_t {
    Text = 0,
    Boolean = 1,
    Integer = 2,
    TextArray = 3,
    Null = 4,
    // A path below the item's mailbox root, handed out as a URL in the form the reader used
    // (the mailbox's "urn:schemas:httpmail:inbox").
    MailboxLink = 5,
};

struct EncodedValue {
    PropertyKind kind;
    std::string bytes;
};

// Empty values are never stored (writing one removes the property), so they cannot be encoded.
EncodedValue EncodeValue(const Variant& value);
// A MailboxLink decodes to its stored relative path; the store turns it into a URL. Bytes that
// the encoder cannot have written (a length past the value's end, a count or number that is not
// all digits, an unknown kind) fail with STORE_E_DATABASE, in time and memory bounded by the
// bytes' size; the caller names the file and the item.
Variant DecodeValue(PropertyKind kind, std::string bytes);

} // namespace platform::store
