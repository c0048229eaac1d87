// Parses the directory's LDAP dialect, "<LDAP://host/base>;filter;attributes;scope", refusing
// filters nested deep enough to overflow the stack.

#include "platform/core/Error.h"
#include "platform/core/Text.h"
#include "platform/directory/DirectoryQuery.h"

#include <algorithm>

namespace platform::directory {

namespace {

Error Malformed(std::string_view text, const std::string& why) {
    return Error(hr::DB_E_ERRORSINCOMMAND,
                 "Malformed directory query \"" + std::string(text) + "\": " + why);
}

bool ParseScope(std::string_view word, SearchScope& scope) {
    const auto trimmed = text::TrimBlanks(word);
    if (text::EqualsIgnoreCase(trimmed, "base"))
        scope = SearchScope::Base;
    else if (text::EqualsIgnoreCase(trimmed, "onelevel"))
        scope = SearchScope::OneLevel;
    else if (text::EqualsIgnoreCase(trimmed, "subtree"))
        scope = SearchScope::Subtree;
    else
        return false;
    return true;
}

// How deep a filter's parentheses may nest. Filters are encoded recursively, by the client
// library too, so a hostile depth would overflow the stack instead of failing.
constexpr int kMaxFilterNesting = 256;

// Values write their parentheses escaped (\28, \29): every "(" opens a level.
int FilterNesting(std::string_view filter) {
    int depth = 0, deepest = 0;
    for (char c : filter) {
        if (c == '(')
            deepest = std::max(deepest, ++depth);
        else if (c == ')')
            --depth;
    }
    return deepest;
}

} // namespace

bool IsLdapDialect(std::string_view text) {
    const auto trimmed = text::TrimBlanks(text);
    return !trimmed.empty() && trimmed.front() == '<';
}

DirectoryQuery ParseLdapDialect(std::string_view text) {
    const auto trimmed = text::TrimBlanks(text);
    if (trimmed.empty() || trimmed.front() != '<')
        throw Malformed(text, "it does not begin with \"<\"");
    const auto close = trimmed.find(">;");
    if (close == std::string_view::npos)
        throw Malformed(text, "the search base is not closed by \">;\"");

    DirectoryQuery query;
    query.root = ParseDirectoryPath(trimmed.substr(1, close - 1));
    auto rest = trimmed.substr(close + 2);

    // Attributes and scope never hold ";", the filter may: take them from the end.
    auto last = rest.rfind(';');
    if (last == std::string_view::npos)
        throw Malformed(text, "it names no attributes");
    std::string_view attributes;
    if (ParseScope(rest.substr(last + 1), query.scope)) {
        rest = rest.substr(0, last);
        last = rest.rfind(';');
        if (last == std::string_view::npos)
            throw Malformed(text, "it names no attributes");
    }
    attributes = rest.substr(last + 1);
    query.filter = std::string(text::TrimBlanks(rest.substr(0, last)));
    if (query.filter.empty())
        throw Malformed(text, "the filter is empty");
    if (FilterNesting(query.filter) > kMaxFilterNesting)
        throw Malformed(text, "the filter nests more than " + std::to_string(kMaxFilterNesting) +
                                  " deep");
    for (auto name : text::Split(attributes, ',')) {
        const auto attribute = text::TrimBlanks(name);
        if (attribute.empty())
            throw Malformed(text, "an attribute name is empty");
        query.attributes.emplace_back(attribute);
    }
    return query;
}

} // namespace platform::directory
