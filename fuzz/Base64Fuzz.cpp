// The base64 codec over any bytes: decoding never fails other than by refusing, what it accepts
// is exactly the canonical form (encoding the result gives the text back), and every byte string
// comes back whole from its encoding.

#include "FuzzCheck.h"

#include "platform/core/Base64.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    namespace text = platform::text;

    const auto encoded = text::EncodeBase64(input);
    fuzz::Check(encoded.size() == (size + 2) / 3 * 4, "an encoding of the wrong length", input,
                encoded);
    const auto back = text::DecodeBase64(encoded);
    fuzz::Check(back.has_value(), "an encoding the decoder refuses", input, encoded);
    fuzz::Check(*back == input, "bytes that do not survive encoding", input, *back);

    if (const auto decoded = text::DecodeBase64(input)) {
        const auto again = text::EncodeBase64(*decoded);
        fuzz::Check(again == input, "an accepted text that is not the canonical form", input,
                    again);
    }
    return 0;
}
