// Encodes property values into a kind and bytes for the database and back, with arrays written as
// counted elements.

#include "platform/store/PropertyCodec.h"

#include "platform/store/StoreErrors.h"

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

Variant::TextArray DecodeArray(const std::string& bytes) {
    Variant::TextArray texts;
    std::size_t position = 0;
    while (position < bytes.size()) {
        const auto colon = bytes.find(':', position);
        if (colon == std::string::npos)
            throw Error(hr::STORE_E_DATABASE, "A stored array value is damaged");
        const auto length = std::stoull(bytes.substr(position, colon - position));
        if (colon + 1 + length > bytes.size())
            throw Error(hr::STORE_E_DATABASE, "A stored array value is damaged");
        texts.push_back(bytes.substr(colon + 1, length));
        position = colon + 1 + length;
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

Variant DecodeValue(PropertyKind kind, const std::string& bytes) {
    switch (kind) {
    case PropertyKind::Text:
    case PropertyKind::MailboxLink:
        return Variant(bytes);
    case PropertyKind::Boolean:
        return Variant(bytes == "1");
    case PropertyKind::Integer:
        return Variant(static_cast<std::int64_t>(std::stoll(bytes)));
    case PropertyKind::TextArray:
        return Variant(DecodeArray(bytes));
    case PropertyKind::Null:
        return Variant::Null();
    }
    throw Error(hr::STORE_E_DATABASE, "A stored value has an unknown kind");
}

} // namespace platform::store
