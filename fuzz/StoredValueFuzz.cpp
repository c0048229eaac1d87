// Decoding of property values as the store reads them back from its file, whose bytes may have
// been damaged on disk or written by anyone who can write the file.
//
// Input: the first byte picks the stored kind (beyond the known kinds as well), the rest are the
// stored bytes. A decode either gives a value or fails with the store's error; whatever it gives
// encodes again to bytes that decode to the same value.

#include "FuzzCheck.h"

#include "platform/core/Error.h"
#include "platform/store/PropertyCodec.h"
#include "platform/store/StoreErrors.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    using namespace platform::store;
    const auto kind = static_cast<PropertyKind>(data[0] % 8);
    const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    platform::Variant value;
    try {
        value = DecodeValue(kind, bytes);
    } catch (const platform::Error& error) {
        fuzz::Check(error.Number() == hr::STORE_E_DATABASE, "a damaged value fails otherwise",
                    bytes, error.Description());
        return 0;
    }
    // A MailboxLink is a text the store turns into a URL; it encodes as a text.
    const auto again = EncodeValue(value);
    fuzz::Check(DecodeValue(again.kind, again.bytes) == value,
                "a decoded value does not survive encoding again", bytes, again.bytes);
    return 0;
}
