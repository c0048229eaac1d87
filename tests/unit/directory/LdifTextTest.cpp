// LDIF lines as slapadd and ldapadd read them: values that are not SAFE-STRINGs in base64, the
// rest as they are, and no raw non-ASCII byte in the sample directory's LDIF.

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
        // Non-ASCII values and blanks, colons and angles at either end are read back through
        // ldapadd in LdifIntegrationTest.
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

// Its non-ASCII values are read back through slapadd in LdifIntegrationTest.
TEST(SampleDirectoryLdif, NoRawByteBeyondAsciiRemains) {
    const auto sample = platform::directory::GenerateSampleDirectory({});
    for (const char c : sample.ldif)
        ASSERT_LT(static_cast<unsigned char>(c), 0x80);
    // ASCII values stay readable, as the tools that adjust the sample expect.
    EXPECT_NE(sample.ldif.find("\nmailNickname: " + sample.localAliases.front() + "\n"),
              std::string::npos);
}

} // namespace
