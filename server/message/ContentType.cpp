// Reads MIME parameters and content types.

#include "server/message/ContentType.h"

#include "platform/core/Text.h"

#include <algorithm>

namespace server::message {

namespace text = platform::text;

ParameterizedValue ReadParameterizedValue(std::string_view input) {
    ParameterizedValue result;
    auto semicolon = input.find(';');
    result.value = std::string(text::TrimSpacesAndTabs(input.substr(0, semicolon)));
    while (semicolon != std::string_view::npos) {
        auto rest = input.substr(semicolon + 1);
        const auto equals = rest.find('=');
        if (equals == std::string_view::npos)
            break;
        std::string name(text::TrimSpacesAndTabs(rest.substr(0, equals)));
        rest = rest.substr(equals + 1);
        rest.remove_prefix(std::min(rest.size(), rest.find_first_not_of(" \t")));
        std::string value;
        if (!rest.empty() && rest.front() == '"') {
            std::size_t used = 1;
            while (used < rest.size() && rest[used] != '"') {
                if (rest[used] == '\\' && used + 1 < rest.size())
                    ++used;
                value += rest[used++];
            }
            semicolon = rest.find(';', used);
        } else {
            semicolon = rest.find(';');
            value = std::string(text::TrimSpacesAndTabs(rest.substr(0, semicolon)));
        }
        if (!name.empty())
            result.parameters.emplace_back(std::move(name), std::move(value));
        input = rest;
    }
    return result;
}

bool ContentType::Is(std::string_view other) const {
    return text::EqualsIgnoreCase(type, other);
}

bool ContentType::IsMultipart() const {
    return Is("MULTIPART");
}

bool ContentType::IsMessage() const {
    return Is("MESSAGE") && text::EqualsIgnoreCase(subtype, "RFC822");
}

std::optional<std::string> ContentType::Parameter(std::string_view name) const {
    for (const auto& [key, value] : parameters)
        if (text::EqualsIgnoreCase(key, name))
            return value;
    return std::nullopt;
}

ContentType ReadContentType(const std::vector<HeaderField>& fields, bool digestDefault) {
    ContentType type;
    if (digestDefault) {
        type.type = "MESSAGE";
        type.subtype = "RFC822";
    }
    const auto field = FieldValue(fields, "Content-Type");
    if (!field)
        return type;
    auto [head, parameters] = ReadParameterizedValue(*field);
    const auto slash = head.find('/');
    if (slash == std::string::npos || slash == 0 || slash + 1 == head.size())
        return type; // unreadable: the default
    type.type = std::string(text::TrimSpacesAndTabs(std::string_view(head).substr(0, slash)));
    type.subtype = std::string(text::TrimSpacesAndTabs(std::string_view(head).substr(slash + 1)));
    type.parameters = std::move(parameters);
    return type;
}

} // namespace server::message
