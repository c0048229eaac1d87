#pragma once

// The rules for the names an administrator gives the server: its computer name, its DNS domain
// and its mailboxes' names. They go into machine.conf lines, LDIF lines, host names in mail
// replies and store URLs, so each kind is checked once, here, wherever it enters.

#include <optional>
#include <string>
#include <string_view>

namespace platform::host {

// What is wrong with each kind of name, as "<what is wrong> (<the rule>)"; nothing when the name
// is fine.

// A computer name is the first label of the server's host name and its NetBIOS name: 1 to 15
// letters, digits and hyphens, neither starting nor ending with a hyphen.
std::optional<std::string> ComputerNameProblem(std::string_view name);

// A DNS domain: labels of 1 to 63 letters, digits and hyphens (neither starting nor ending with a
// hyphen) separated by single dots, at most 253 octets in all, with no dot at either end.
std::optional<std::string> DomainNameProblem(std::string_view name);

// A mailbox name (its alias) is a step of the mailbox's URLs and a line of the files that name
// it: not empty, "." or "..", no "/", no control character (C0, DEL or C1, so no line break),
// and no blank at either end ("trail " and "trail" would be two mailboxes that look alike).
std::optional<std::string> MailboxNameProblem(std::string_view name);

} // namespace platform::host
