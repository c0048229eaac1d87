// Reads SMTP command lines: the verb, the MAIL FROM and RCPT TO paths and their parameters,
// refusing only what would break the envelope.

#include "server/smtp/SmtpSyntax.h"

#include "platform/core/Text.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

namespace server::smtp {

namespace {

using platform::text::AsciiUpper;

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

// Where the path that starts with '<' ends, skipping any '>' inside a quoted local part.
std::size_t ClosingBracket(std::string_view rest) {
    bool quoted = false;
    for (std::size_t i = 1; i < rest.size(); ++i) {
        if (rest[i] == '\\' && quoted) {
            ++i;
        } else if (rest[i] == '"') {
            quoted = !quoted;
        } else if (rest[i] == '>' && !quoted) {
            return i;
        }
    }
    return std::string_view::npos;
}

bool IsAtext(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) ||
           std::string_view("!#$%&'*+-/=?^_`{|}~").find(c) != std::string_view::npos;
}

bool IsDotAtom(std::string_view text) {
    if (text.empty() || text.front() == '.' || text.back() == '.' ||
        text.find("..") != std::string_view::npos)
        return false;
    return std::all_of(text.begin(), text.end(), [](char c) { return c == '.' || IsAtext(c); });
}

// "alice"@x and alice@x are the same mailbox: a quoted local part that needs no quoting loses
// its quotes (and backslashes), so that the backend sees one spelling. Others stay as sent.
std::string CanonicalMailbox(std::string_view mailbox) {
    const auto at = mailbox.rfind('@');
    const auto local = mailbox.substr(0, at);
    if (local.size() < 2 || local.front() != '"' || local.back() != '"')
        return std::string(mailbox);
    std::string unquoted;
    for (std::size_t i = 1; i + 1 < local.size(); ++i) {
        if (local[i] == '\\' && i + 2 < local.size())
            ++i;
        unquoted += local[i];
    }
    if (!IsDotAtom(unquoted))
        return std::string(mailbox);
    return unquoted + std::string(mailbox.substr(at));
}

} // namespace

bool IsAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

CommandLine SplitCommandLine(std::string_view line) {
    const auto blank = line.find(' ');
    if (blank == std::string_view::npos)
        return {AsciiUpper(line), {}};
    return {AsciiUpper(line.substr(0, blank)), std::string(line.substr(blank + 1))};
}

std::optional<PathArgument> ParsePathArgument(std::string_view argument, std::string_view keyword,
                                              bool allowEmptyPath) {
    if (argument.size() <= keyword.size() ||
        AsciiUpper(argument.substr(0, keyword.size())) != keyword ||
        argument[keyword.size()] != ':')
        return std::nullopt;
    auto rest = argument.substr(keyword.size() + 1);
    while (!rest.empty() && rest.front() == ' ')
        rest.remove_prefix(1);
    if (rest.empty())
        return std::nullopt;
    std::string_view path;
    std::string_view parameters;
    if (rest.front() == '<') {
        const auto close = ClosingBracket(rest);
        if (close == std::string_view::npos)
            return std::nullopt;
        path = rest.substr(1, close - 1);
        parameters = rest.substr(close + 1);
    } else {
        // Without brackets, as many clients send it: the path runs to the first blank.
        const auto end = std::min(rest.find(' '), rest.size());
        path = rest.substr(0, end);
        parameters = rest.substr(end);
        if (path.find_first_of("<>") != std::string_view::npos)
            return std::nullopt;
    }
    // A source route ("@relay1,@relay2:user@domain") is obsolete; the mailbox after it counts.
    if (!path.empty() && path.front() == '@') {
        const auto colon = path.find(':');
        if (colon == std::string_view::npos)
            return std::nullopt;
        path.remove_prefix(colon + 1);
    }
    PathArgument result;
    if (path.empty()) {
        if (!allowEmptyPath)
            return std::nullopt;
    } else if (keyword == "TO" && AsciiUpper(path) == "POSTMASTER") {
        result.address = "postmaster";
    } else if (IsMailbox(path)) {
        result.address = CanonicalMailbox(path);
    } else {
        return std::nullopt;
    }

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
            result.parameters.emplace_back(AsciiUpper(parameter), std::string());
        else
            result.parameters.emplace_back(AsciiUpper(parameter.substr(0, equals)),
                                           std::string(parameter.substr(equals + 1)));
    }
    return result;
}

std::optional<std::string> DecodeXtext(std::string_view xtext) {
    static constexpr std::string_view hex = "0123456789ABCDEF";
    std::string decoded;
    for (std::size_t i = 0; i < xtext.size(); ++i) {
        const char c = xtext[i];
        if (c == '+') {
            if (i + 2 >= xtext.size())
                return std::nullopt;
            const auto high = hex.find(xtext[i + 1]), low = hex.find(xtext[i + 2]);
            if (high == std::string_view::npos || low == std::string_view::npos)
                return std::nullopt;
            decoded += static_cast<char>(high * 16 + low);
            i += 2;
        } else if (c >= 33 && c <= 126 && c != '=') {
            decoded += c;
        } else {
            return std::nullopt;
        }
    }
    return decoded;
}

std::optional<std::string> OriginalRecipient(std::string_view orcpt) {
    const auto semicolon = orcpt.find(';');
    if (semicolon == std::string_view::npos || semicolon == 0)
        return std::nullopt;
    auto address = DecodeXtext(orcpt.substr(semicolon + 1));
    if (!address || address->empty())
        return std::nullopt;
    if (!platform::text::EqualsIgnoreCase(orcpt.substr(0, semicolon), "rfc822"))
        return std::string();
    return address;
}

bool IsValidNotify(std::string_view value) {
    if (platform::text::EqualsIgnoreCase(value, "NEVER"))
        return true;
    if (value.empty())
        return false;
    for (const auto entry : platform::text::Split(value, ','))
        if (!platform::text::EqualsIgnoreCase(entry, "SUCCESS") &&
            !platform::text::EqualsIgnoreCase(entry, "FAILURE") &&
            !platform::text::EqualsIgnoreCase(entry, "DELAY"))
            return false;
    return true;
}

bool IsValidRet(std::string_view value) {
    return platform::text::EqualsIgnoreCase(value, "FULL") ||
           platform::text::EqualsIgnoreCase(value, "HDRS");
}

} // namespace server::smtp
