#pragma once

// The grammar of command lines: the verb and its argument, and the paths and parameters of
// MAIL FROM and RCPT TO.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace exhost::smtp {

struct CommandLine {
    std::string verb;     // in capitals
    std::string argument; // the rest of the line after the blank that ends the verb
};

CommandLine SplitCommandLine(std::string_view line);

struct PathArgument {
    std::string address; // without the angle brackets and any source route; "" for "<>"
    std::vector<std::pair<std::string, std::string>> parameters; // keyword in capitals, value
};

// Parses "FROM:<path> params" (keyword "FROM") or "TO:<path> params" (keyword "TO"). A blank
// after the colon and a path without angle brackets ("TO:alice@example.com") are tolerated, as
// mainstream MTAs tolerate them. An empty path is allowed only when `allowEmptyPath`; any other
// path must be "local@domain" or, for recipients, "postmaster" in any case (given as
// "postmaster"). A quoted local part that needs no quotes comes back unquoted.
std::optional<PathArgument> ParsePathArgument(std::string_view argument, std::string_view keyword,
                                              bool allowEmptyPath);

// Whether an address holds only ASCII: any other needs SMTPUTF8 (RFC 6531) in its transaction.
bool IsAscii(std::string_view text);

} // namespace exhost::smtp
