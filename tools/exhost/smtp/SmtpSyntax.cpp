#include "SmtpSyntax.h"

#include <algorithm>
#include <cctype>

namespace exhost::smtp {

namespace {

std::string Upper(std::string_view text) {
    std::string upper(text);
    for (auto& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
}

bool IsControlOrBlank(char c) {
    return static_cast<unsigned char>(c) <= 32 || c == 127;
}

// A mailbox "local@domain": the local part may be quoted (and then hold blanks); the domain is
// a name or an address literal. Only what would break the envelope is refused.
bool IsMailbox(std::string_view path) {
    const auto at = path.rfind('@');
    if (at == std::string_view::npos || at == 0 || at + 1 == path.size())
        return false;
    const auto local = path.substr(0, at);
    const auto domain = path.substr(at + 1);
    if (std::any_of(domain.begin(), domain.end(), IsControlOrBlank))
        return false;
    if (local.size() >= 2 && local.front() == '"' && local.back() == '"')
        return std::none_of(local.begin(), local.end(),
                            [](char c) { return c == '\r' || c == '\n' || c == 0; });
    return std::none_of(local.begin(), local.end(),
                        [](char c) { return IsControlOrBlank(c) || c == '"'; });
}

} // namespace

CommandLine SplitCommandLine(std::string_view line) {
    const auto blank = line.find(' ');
    if (blank == std::string_view::npos)
        return {Upper(line), {}};
    return {Upper(line.substr(0, blank)), std::string(line.substr(blank + 1))};
}

std::optional<PathArgument> ParsePathArgument(std::string_view argument, std::string_view keyword,
                                              bool allowEmptyPath) {
    if (argument.size() <= keyword.size() || Upper(argument.substr(0, keyword.size())) != keyword ||
        argument[keyword.size()] != ':')
        return std::nullopt;
    auto rest = argument.substr(keyword.size() + 1);
    while (!rest.empty() && rest.front() == ' ')
        rest.remove_prefix(1);
    if (rest.empty() || rest.front() != '<')
        return std::nullopt;
    // The closing bracket, skipping any inside a quoted local part.
    bool quoted = false;
    std::size_t close = std::string_view::npos;
    for (std::size_t i = 1; i < rest.size(); ++i) {
        if (rest[i] == '\\' && quoted) {
            ++i;
        } else if (rest[i] == '"') {
            quoted = !quoted;
        } else if (rest[i] == '>' && !quoted) {
            close = i;
            break;
        }
    }
    if (close == std::string_view::npos)
        return std::nullopt;
    auto path = rest.substr(1, close - 1);
    // A source route ("@relay1,@relay2:user@domain") is obsolete; the mailbox after it counts.
    if (!path.empty() && path.front() == '@') {
        const auto colon = path.find(':');
        if (colon == std::string_view::npos)
            return std::nullopt;
        path.remove_prefix(colon + 1);
    }
    PathArgument result;
    result.address = std::string(path);
    if (path.empty()) {
        if (!allowEmptyPath)
            return std::nullopt;
    } else if (!IsMailbox(path) && !(keyword == "TO" && Upper(path) == "POSTMASTER")) {
        return std::nullopt;
    }

    auto parameters = rest.substr(close + 1);
    if (!parameters.empty() && parameters.front() != ' ')
        return std::nullopt;
    while (!parameters.empty()) {
        while (!parameters.empty() && parameters.front() == ' ')
            parameters.remove_prefix(1);
        if (parameters.empty())
            break;
        const auto end = std::min(parameters.find(' '), parameters.size());
        const auto parameter = parameters.substr(0, end);
        parameters.remove_prefix(end);
        const auto equals = parameter.find('=');
        if (equals == 0)
            return std::nullopt;
        if (equals == std::string_view::npos)
            result.parameters.emplace_back(Upper(parameter), std::string());
        else
            result.parameters.emplace_back(Upper(parameter.substr(0, equals)),
                                           std::string(parameter.substr(equals + 1)));
    }
    return result;
}

} // namespace exhost::smtp
