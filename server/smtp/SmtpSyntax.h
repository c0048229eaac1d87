#pragma once

// The grammar of command lines: the verb and its argument, and the paths and parameters of
// MAIL FROM and RCPT TO.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace server::smtp {

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

// Decodes RFC 3461's xtext ("+" and two upper-case hexadecimal digits stand for an octet; other
// characters are printable ASCII other than "+" and "="); nothing when the text is not xtext.
std::optional<std::string> DecodeXtext(std::string_view xtext);

// The original recipient an ORCPT parameter gives ("rfc822;" in any case, then the address in
// xtext), as "" when it is of another address type (it is then ignored), or nothing when it is
// malformed.
std::optional<std::string> OriginalRecipient(std::string_view orcpt);

// Whether the values of the DSN parameters (RFC 3461) are well-formed: NOTIFY (NEVER, or a
// list of SUCCESS, FAILURE and DELAY), RET (FULL or HDRS), ENVID (xtext).
bool IsValidNotify(std::string_view value);
bool IsValidRet(std::string_view value);

// Whether an address holds only ASCII: any other needs SMTPUTF8 (RFC 6531) in its transaction.
bool IsAscii(std::string_view text);

} // namespace server::smtp
