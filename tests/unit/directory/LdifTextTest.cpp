// LDIF lines as slapadd and ldapadd read them: values that are not SAFE-STRINGs in base64, the
// rest as they are, and the sample directory's non-ASCII values among the encoded ones.

#include "platform/directory/LdifText.h"
#include "platform/directory/SampleDirectory.h"

#include <gtest/gtest.h>

using platform::directory::AppendLdifLine;

namespace {

struct Case {
    const char* name;
    std::string_view attribute;
    std::string_view value;
    std::string_view line;
};

class LdifLines : public ::testing::TestWithParam<Case> {};

TEST_P(LdifLines, ValueIsWrittenAsRfc2849Asks) {
    std::string out;
    AppendLdifLine(out, GetParam().attribute, GetParam().value);
    EXPECT_EQ(out, GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Values, LdifLines,
    ::testing::Values(
        Case{"Plain", "cn", "Anna Albers 00001", "cn: Anna Albers 00001\n"},
        Case{"ColonAndAngleInside", "proxyAddresses", "X400:c=US;a= ;p=Lorvanta<x>",
             "proxyAddresses: X400:c=US;a= ;p=Lorvanta<x>\n"},
        Case{"EmptyValue", "dn", "", "dn:\n"},
        // Beyond ASCII: "Jürgen".
        Case{"NonAscii", "displayName", "J\xC3\xBCrgen", "displayName:: SsO8cmdlbg==\n"},
        Case{"TrailingSpace", "description", "ends in a space ",
             "description:: ZW5kcyBpbiBhIHNwYWNlIA==\n"},
        Case{"LeadingSpace", "description", " starts with a space",
             "description:: IHN0YXJ0cyB3aXRoIGEgc3BhY2U=\n"},
        Case{"LeadingColon", "sn", ":colon", "sn:: OmNvbG9u\n"},
        Case{"LeadingAngle", "sn", "<angle", "sn:: PGFuZ2xl\n"},
        Case{"LineBreakInside", "description", "a\nb", "description:: YQpi\n"},
        Case{"NulInside", "description", std::string_view("a\0b", 3), "description:: YQBi\n"},
        // OpenLDAP encodes this attribute whatever its value.
        Case{"UserPassword", "userPassword", "{SSHA}abc", "userPassword:: e1NTSEF9YWJj\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LdifLines, LongLinesAreNotFolded) {
    const std::string value(200, 'a');
    std::string out;
    AppendLdifLine(out, "description", value);
    EXPECT_EQ(out, "description: " + value + "\n");
}

TEST(SampleDirectoryLdif, NonAsciiValuesAreBase64AndNoRawByteBeyondAsciiRemains) {
    const auto sample = platform::directory::GenerateSampleDirectory({});
    EXPECT_NE(sample.ldif.find("\ngivenName:: SsO2cmc=\n"), std::string::npos); // Jörg
    EXPECT_NE(sample.ldif.find("\nsn:: V2Vpw58=\n"), std::string::npos);        // Weiß
    // smtp:jörg@corp.example.com
    EXPECT_NE(sample.ldif.find("\nproxyAddresses:: c210cDpqw7ZyZ0Bjb3JwLmV4YW1wbGUuY29t\n"),
              std::string::npos);
    for (const char c : sample.ldif)
        ASSERT_LT(static_cast<unsigned char>(c), 0x80);
    // ASCII values stay readable, as the tools that adjust the sample expect.
    EXPECT_NE(sample.ldif.find("\nmailNickname: " + sample.localAliases.front() + "\n"),
              std::string::npos);
}

} // namespace
