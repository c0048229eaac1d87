// Encodes property values into a kind and bytes for the database and back, with arrays written as
// counted elements.

#include "platform/store/PropertyCodec.h"

#include "platform/store/StoreErrors.h"

#include <charconv>
#include <string_view>

namespace platform::store {

namespace {

// Array elements are written as "<byte count>:<bytes>" one after the other, so that any text,
// separators included, survives.
std::string EncodeArray(const Variant::TextArray& texts) {
    std::string bytes;
    for (const auto& element : texts)
        bytes += std::to_string(element.size()) + ":" + element;
    return bytes;
}

[[noreturn]] void Damaged(const std::string& what) {
    throw Error(hr::STORE_E_DATABASE, "a stored " + what + " is damaged");
}

// A count or number as EncodeValue writes it: decimal digits (a minus sign too for a signed
// number) and nothing else, within the type's range. Stored bytes are not trusted to be what the
// encoder wrote.
template <class Number> Number StoredNumber(std::string_view text, const char* what) {
    Number number{};
    const auto* end = text.data() + text.size();
    const auto [stop, failure] = std::from_chars(text.data(), end, number);
    if (failure != std::errc() || stop != end)
        Damaged(what);
    return number;
}

Variant::TextArray DecodeArray(const std::string& bytes) {
    Variant::TextArray texts;
    std::string_view rest = bytes;
    while (!rest.empty()) {
        const auto colon = rest.find(':');
        if (colon == std::string_view::npos)
            Damaged("array (an element without its length)");
        const auto length = StoredNumber<std::uint64_t>(rest.substr(0, colon), "array length");
        // Compared with what is left, so that no length can wrap the position around.
        if (length > rest.size() - colon - 1)
            Damaged("array (an element longer than the value)");
        texts.emplace_back(rest.substr(colon + 1, length));
        rest.remove_prefix(colon + 1 + length);
    }
    return texts;
}

} // namespace

EncodedValue EncodeValue(const Variant& value) {
    if (value.IsText())
        return {PropertyKind::Text, value.Text()};
    if (value.IsBool())
        return {PropertyKind::Boolean, value.Bool() ? "1" : "0"};
    if (value.IsInteger())
        return {PropertyKind::Integer, std::to_string(value.Integer())};
    if (value.IsArray())
        return {PropertyKind::TextArray, EncodeArray(value.Array())};
    if (value.IsNull())
        return {PropertyKind::Null, {}};
    throw Error(platform::hr::E_INVALIDARG, "An empty value cannot be stored");
}

Variant DecodeValue(PropertyKind kind, std::string bytes) {
    switch (kind) {
    case PropertyKind::Text:
    case PropertyKind::MailboxLink:
        return Variant(std::move(bytes)); // a message body: taken over, not copied
    case PropertyKind::Boolean:
        return Variant(bytes == "1");
    case PropertyKind::Integer:
        return Variant(StoredNumber<std::int64_t>(bytes, "integer"));
    case PropertyKind::TextArray:
        return Variant(DecodeArray(bytes));
    case PropertyKind::Null:
        return Variant::Null();
    }
    Damaged("value's kind (" + std::to_string(static_cast<std::int64_t>(kind)) + ")");
}

} // namespace platform::store
