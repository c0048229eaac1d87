// Splits entities and reads header fields on delivery's header-block rule.

#include "server/message/HeaderBlock.h"

#include "platform/core/Text.h"
#include "platform/store/Delivery.h"

namespace server::message {

std::vector<HeaderField> ReadHeaderFields(std::string_view header) {
    namespace text = platform::text;
    std::vector<HeaderField> fields;
    const auto fieldsEnd = platform::store::FindHeaderBlock(header).fieldsEnd;
    for (std::size_t at = 0; at < fieldsEnd;) {
        const auto end = header.find('\n', at);
        const auto next = end == std::string_view::npos || end >= fieldsEnd ? fieldsEnd : end + 1;
        const auto line = header.substr(at, next - at);
        auto content = line;
        if (content.ends_with('\n'))
            content.remove_suffix(content.ends_with("\r\n") ? 2 : 1);
        if (content.front() == ' ' || content.front() == '\t') {
            // The block's rule puts a continuation only after a field.
            auto& field = fields.back();
            field.raw = std::string_view(field.raw.data(), field.raw.size() + line.size());
            field.value += content;
        } else {
            const auto name = platform::store::HeaderFieldName(content);
            fields.push_back(
                {std::string(*name), line, std::string(content.substr(content.find(':') + 1))});
        }
        at = next;
    }
    for (auto& field : fields)
        field.value = std::string(text::TrimSpacesAndTabs(field.value));
    return fields;
}

Entity SplitEntity(std::string_view bytes) {
    const auto bounds = platform::store::FindHeaderBlock(bytes);
    return {bytes.substr(0, bounds.bodyStart), bytes.substr(bounds.bodyStart)};
}

std::optional<std::string> FieldValue(const std::vector<HeaderField>& fields,
                                      std::string_view name) {
    for (const auto& field : fields)
        if (platform::text::EqualsIgnoreCase(field.name, name))
            return field.value;
    return std::nullopt;
}

} // namespace server::message
