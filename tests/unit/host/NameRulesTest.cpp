// The rules for computer names, DNS domains and mailbox names at their edges: what passes, and
// what is refused with which reason.

#include "platform/host/NameRules.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace host = platform::host;

namespace {

struct NameCase {
    std::string name;
    // Part of the reason it is refused; empty when the name is fine.
    std::string refusal;
};

using Rule = std::function<std::optional<std::string>(std::string_view)>;

void ExpectVerdicts(const Rule& rule, const std::vector<NameCase>& cases, const char* ruleText) {
    for (const auto& c : cases) {
        const auto problem = rule(c.name);
        if (c.refusal.empty()) {
            EXPECT_FALSE(problem.has_value()) << "\"" << c.name << "\": " << problem.value_or("");
            continue;
        }
        ASSERT_TRUE(problem.has_value()) << "\"" << c.name << "\" passed";
        EXPECT_NE(problem->find(c.refusal), std::string::npos)
            << "\"" << c.name << "\": " << *problem;
        EXPECT_NE(problem->find(ruleText), std::string::npos) << *problem;
    }
}

const std::string kLabel63(63, 'a');

TEST(NameRules, ComputerNames) {
    ExpectVerdicts(host::ComputerNameProblem,
                   {
                       {"MAIL01", ""},
                       {"mail-01", ""},
                       {"A", ""},
                       {"7", ""},
                       {std::string(15, 'M'), ""},
                       {std::string(16, 'M'), "is 16 octets long"},
                       {"", "is empty"},
                       {"MAIL01\ndirectory_uri = ldap://evil", "control character"},
                       {"MAIL01\r", "control character"},
                       {"MAIL\t01", "control character"},
                       {std::string("MAIL\0", 5), "control character"},
                       {"MAIL\x7f", "control character"},
                       {" MAIL01", "contains a blank"},
                       {"MAIL01 ", "contains a blank"},
                       {"MAIL 01", "contains a blank"},
                       {"MAIL.01", "contains \".\""},
                       {"MAIL_01", "contains \"_\""},
                       {"MAIL/01", "contains \"/\""},
                       {"M\xC3\x84IL", "non-ASCII"},
                       {"-MAIL", "starts or ends with a hyphen"},
                       {"MAIL-", "starts or ends with a hyphen"},
                   },
                   "a computer name is 1 to 15 letters, digits and hyphens");
}

TEST(NameRules, DnsDomains) {
    const auto longest = kLabel63 + "." + kLabel63 + "." + kLabel63 + "." + std::string(61, 'b');
    ASSERT_EQ(longest.size(), 253u);
    ExpectVerdicts(host::DomainNameProblem,
                   {
                       {"example.com", ""},
                       {"EXAMPLE.com", ""},
                       {"localdomain", ""},
                       {"mail-1.example.co.uk", ""},
                       {"xn--bcher-kva.example", ""},
                       {"123.example", ""},
                       {kLabel63 + ".com", ""},
                       {longest, ""},
                       {longest + "b", "is 254 octets long"},
                       {kLabel63 + "a.com", "has a label of 64 octets"},
                       {"", "is empty"},
                       {"a..b", "has an empty label"},
                       {".example.com", "has an empty label"},
                       {"example.com.", "has an empty label"},
                       {".", "has an empty label"},
                       {"exa mple.com", "contains a blank"},
                       {" example.com", "contains a blank"},
                       {"example.com ", "contains a blank"},
                       {"example.com\n", "control character"},
                       {"example.com\ndirectory_uri = x", "control character"},
                       {"exa\tmple.com", "control character"},
                       {"exa_mple.com", "contains \"_\""},
                       {"exa/mple.com", "contains \"/\""},
                       {"b\xC3\xBC"
                        "cher.example",
                        "non-ASCII"},
                       {"-a.com", "starts or ends with a hyphen"},
                       {"a-.com", "starts or ends with a hyphen"},
                       {"a.-com", "starts or ends with a hyphen"},
                   },
                   "a DNS domain is labels of 1 to 63 letters, digits and hyphens");
}

TEST(NameRules, MailboxNames) {
    ExpectVerdicts(host::MailboxNameProblem,
                   {
                       {"alice", ""},
                       {"alice.smith", ""},
                       {"o'brien", ""},
                       {"sales desk", ""},
                       {"j\xC3\xB6rg", ""},
                       {"SystemMailbox{0f2e4a6c-1b3d-4e5f-8a9b-0c1d2e3f4a5b}", ""},
                       {"a\xC2\xA0"
                        "b",
                        ""}, // a no-break space inside is not a control character
                       {"...", ""},
                       {"", "is empty"},
                       {".", "names a folder step"},
                       {"..", "names a folder step"},
                       {"a/b", "contains \"/\""},
                       {"/", "contains \"/\""},
                       {"a\nb", "control character"},
                       {"a\r\nb", "control character"},
                       {"tab\tx", "control character"},
                       {std::string("nul\0x", 5), "control character"},
                       {"del\x7f", "control character"},
                       {"c1\xC2\x85x", "control character"},
                       {"c1\xC2\x9F", "control character"},
                       {"bad\xFF", "is not UTF-8"},
                       {"trail ", "starts or ends with a blank"},
                       {" lead", "starts or ends with a blank"},
                       {" ", "starts or ends with a blank"},
                   },
                   "a mailbox name is UTF-8 text");
}

} // namespace
