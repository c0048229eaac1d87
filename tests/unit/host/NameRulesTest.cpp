// The rules for computer, DNS domain and mailbox names at their edges.

#include "platform/host/NameRules.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace host = platform::host;

namespace {

struct NameCase {
    // Part of the reason these names are refused; empty for names that are fine.
    std::string refusal;
    std::vector<std::string> names;
};

using Rule = std::function<std::optional<std::string>(std::string_view)>;

void ExpectVerdicts(const Rule& rule, const std::vector<NameCase>& cases, const char* ruleText) {
    for (const auto& c : cases)
        for (const auto& name : c.names) {
            const auto problem = rule(name);
            if (c.refusal.empty()) {
                EXPECT_FALSE(problem.has_value()) << "\"" << name << "\": " << problem.value_or("");
                continue;
            }
            ASSERT_TRUE(problem.has_value()) << "\"" << name << "\" passed";
            EXPECT_NE(problem->find(c.refusal), std::string::npos)
                << "\"" << name << "\": " << *problem;
            EXPECT_NE(problem->find(ruleText), std::string::npos) << *problem;
        }
}

const std::string kLabel63(63, 'a');

TEST(NameRules, ComputerNames) {
    ExpectVerdicts(host::ComputerNameProblem,
                   {
                       {"", {"MAIL01", "mail-01", "A", "7", std::string(15, 'M')}},
                       {"is 16 octets long", {std::string(16, 'M')}},
                       {"is empty", {""}},
                       {"control character",
                        {"MAIL01\ndirectory_uri = ldap://evil", "MAIL01\r", "MAIL\t01",
                         std::string("MAIL\0", 5), "MAIL\x7f"}},
                       {"contains a blank", {" MAIL01", "MAIL01 ", "MAIL 01"}},
                       {"contains \".\"", {"MAIL.01"}},
                       {"contains \"_\"", {"MAIL_01"}},
                       {"contains \"/\"", {"MAIL/01"}},
                       {"non-ASCII", {"M\xC3\x84IL"}},
                       {"starts or ends with a hyphen", {"-MAIL", "MAIL-"}},
                   },
                   "a computer name is 1 to 15 letters, digits and hyphens");
}

TEST(NameRules, DnsDomains) {
    const auto longest = kLabel63 + "." + kLabel63 + "." + kLabel63 + "." + std::string(61, 'b');
    ASSERT_EQ(longest.size(), 253u);
    ExpectVerdicts(host::DomainNameProblem,
                   {
                       {"",
                        {"example.com", "EXAMPLE.com", "localdomain", "mail-1.example.co.uk",
                         "xn--bcher-kva.example", "123.example", kLabel63 + ".com", longest}},
                       {"is 254 octets long", {longest + "b"}},
                       {"has a label of 64 octets", {kLabel63 + "a.com"}},
                       {"is empty", {""}},
                       {"has an empty label", {"a..b", ".example.com", "example.com.", "."}},
                       {"contains a blank", {"exa mple.com", " example.com", "example.com "}},
                       {"control character",
                        {"example.com\n", "example.com\ndirectory_uri = x", "exa\tmple.com"}},
                       {"contains \"_\"", {"exa_mple.com"}},
                       {"contains \"/\"", {"exa/mple.com"}},
                       {"non-ASCII", {"b\u00FCcher.example"}},
                       {"starts or ends with a hyphen", {"-a.com", "a-.com", "a.-com"}},
                   },
                   "a DNS domain is labels of 1 to 63 letters, digits and hyphens");
}

TEST(NameRules, MailboxNames) {
    ExpectVerdicts(host::MailboxNameProblem,
                   {
                       // A no-break space inside is not a control character.
                       {"",
                        {"alice", "alice.smith", "o'brien", "sales desk", "j\xC3\xB6rg",
                         "SystemMailbox{0f2e4a6c-1b3d-4e5f-8a9b-0c1d2e3f4a5b}", "a\u00A0b", "..."}},
                       {"is empty", {""}},
                       {"names a folder step", {".", ".."}},
                       {"contains \"/\"", {"a/b", "/"}},
                       {"control character",
                        {"a\nb", "a\r\nb", "tab\tx", std::string("nul\0x", 5), "del\x7f",
                         "c1\xC2\x85x", "c1\xC2\x9F"}},
                       {"is not UTF-8", {"bad\xFF"}},
                       {"starts or ends with a blank", {"trail ", " lead", " "}},
                   },
                   "a mailbox name is UTF-8 text");
}

} // namespace
