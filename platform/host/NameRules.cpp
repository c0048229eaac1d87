// Checks the names an administrator gives the server, and says what is wrong and which rule
// holds.

#include "platform/host/NameRules.h"

#include "platform/core/Text.h"

namespace platform::host {

namespace {

constexpr std::size_t kMaxComputerName = 15;
constexpr std::size_t kMaxLabel = 63;
constexpr std::size_t kMaxDomainName = 253;

constexpr const char* kComputerRule = "a computer name is 1 to 15 letters, digits and hyphens, "
                                      "neither starting nor ending with a hyphen";
constexpr const char* kDomainRule =
    "a DNS domain is labels of 1 to 63 letters, digits and hyphens, neither starting nor ending "
    "with a hyphen, joined by single dots, at most 253 octets in all";
constexpr const char* kMailboxRule =
    "a mailbox name is UTF-8 text, not empty, \".\" or \"..\", without \"/\" or control "
    "characters, and neither starts nor ends with a blank";

std::string Problem(const std::string& what, const char* rule) {
    return what + " (" + rule + ")";
}

bool IsLetterOrDigit(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// C0 and DEL as bytes; C1 (U+0080 to U+009F) as UTF-8 spells it, C2 80 to C2 9F.
bool HasControlCharacter(std::string_view text) {
    for (std::size_t at = 0; at < text.size(); ++at) {
        const auto c = static_cast<unsigned char>(text[at]);
        if (c < 0x20 || c == 0x7F)
            return true;
        if (c == 0xC2 && at + 1 < text.size()) {
            const auto next = static_cast<unsigned char>(text[at + 1]);
            if (next >= 0x80 && next <= 0x9F)
                return true;
        }
    }
    return false;
}

// What is wrong with the characters of a host or domain name's label, if anything.
std::optional<std::string> LetterDigitHyphenProblem(std::string_view label) {
    for (const char c : label) {
        if (IsLetterOrDigit(c) || c == '-')
            continue;
        if (c == ' ')
            return "contains a blank";
        if (static_cast<unsigned char>(c) >= 0x80)
            return "contains a non-ASCII character (an international name is written in its "
                   "xn-- form)";
        return "contains \"" + std::string(1, c) + "\"";
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> ComputerNameProblem(std::string_view name) {
    if (HasControlCharacter(name))
        return Problem("contains a control character", kComputerRule);
    if (name.empty())
        return Problem("is empty", kComputerRule);
    if (name.size() > kMaxComputerName)
        return Problem("is " + std::to_string(name.size()) + " octets long", kComputerRule);
    if (auto problem = LetterDigitHyphenProblem(name))
        return Problem(*problem, kComputerRule);
    if (name.front() == '-' || name.back() == '-')
        return Problem("starts or ends with a hyphen", kComputerRule);
    return std::nullopt;
}

std::optional<std::string> DomainNameProblem(std::string_view name) {
    if (HasControlCharacter(name))
        return Problem("contains a control character", kDomainRule);
    if (name.empty())
        return Problem("is empty", kDomainRule);
    if (name.size() > kMaxDomainName)
        return Problem("is " + std::to_string(name.size()) + " octets long", kDomainRule);
    for (const auto label : text::Split(name, '.')) {
        if (label.empty())
            return Problem("has an empty label", kDomainRule);
        if (label.size() > kMaxLabel)
            return Problem("has a label of " + std::to_string(label.size()) + " octets",
                           kDomainRule);
        if (auto problem = LetterDigitHyphenProblem(label))
            return Problem(*problem, kDomainRule);
        if (label.front() == '-' || label.back() == '-')
            return Problem("has a label that starts or ends with a hyphen", kDomainRule);
    }
    return std::nullopt;
}

std::optional<std::string> MailboxNameProblem(std::string_view name) {
    if (!text::IsUtf8(name))
        return Problem("is not UTF-8", kMailboxRule);
    if (HasControlCharacter(name))
        return Problem("contains a control character", kMailboxRule);
    if (name.empty())
        return Problem("is empty", kMailboxRule);
    if (name == "." || name == "..")
        return Problem("names a folder step", kMailboxRule);
    if (name.find('/') != std::string_view::npos)
        return Problem("contains \"/\"", kMailboxRule);
    if (name.front() == ' ' || name.back() == ' ')
        return Problem("starts or ends with a blank", kMailboxRule);
    return std::nullopt;
}

} // namespace platform::host
