// A directory record set's rows (values by schema, sorting, kept entries) and LDIF lines.

#include "platform/directory/DirectoryRecordset.h"
#include "platform/directory/DirectorySchema.h"
#include "platform/directory/KeptEntries.h"
#include "platform/directory/LdifText.h"
#include "platform/directory/SampleDirectory.h"

#include <gtest/gtest.h>

using platform::Variant;
using platform::directory::AppendLdifLine;
using platform::directory::DirectorySchema;
using platform::directory::KeptEntries;
using platform::directory::Row;
using platform::directory::SortRows;
using Attributes = platform::directory::LdapConnection::AttributeMap;

namespace {

std::shared_ptr<const DirectorySchema> Schema() {
    return DirectorySchema::FromDescriptions({
        "( 1.2.840.113556.1.2.210 NAME 'proxyAddresses' EQUALITY caseIgnoreMatch "
        "SYNTAX 1.3.6.1.4.1.1466.115.121.1.15 )",
        "( 1.2.840.113556.1.4.8 NAME 'userAccountControl' EQUALITY integerMatch "
        "SYNTAX 1.3.6.1.4.1.1466.115.121.1.27 SINGLE-VALUE )",
        "( 1.1.1 NAME 'flag' SYNTAX 1.3.6.1.4.1.1466.115.121.1.7 SINGLE-VALUE )",
        "( 1.1.2 NAME 'count' SUP userAccountControl SINGLE-VALUE )",
        "( 2.5.4.41 NAME 'name' SYNTAX 1.3.6.1.4.1.1466.115.121.1.15 )",
        "( 2.5.4.3 NAME ( 'cn' 'commonName' ) SUP name )",
        "( 1.1.3 NAME 'description' SYNTAX 1.3.6.1.4.1.1466.115.121.1.15 )",
        "this is not a description",
    });
}

TEST(DirectorySchema, ValuesBecomeFieldValuesByWhatTheSchemaSays) {
    const auto schema = Schema();
    using Texts = Variant::TextArray;
    struct Case {
        std::string attribute;
        std::vector<std::string> values;
        Variant expected;
    } cases[] = {
        // Multi-valued and integer attributes of the real schema: SqlDialectIntegrationTest.
        {"proxyAddresses", {}, Variant::Null()},
        {"userAccountControl", {"x"}, Variant("x")},
        {"count", {"7"}, Variant(7)},
        {"flag", {"TRUE"}, Variant(true)},
        // AD makes these single-valued, whatever the server's schema says.
        {"commonName", {"Anna Berg"}, Variant("Anna Berg")},
        {"mail", {"a@b"}, Variant("a@b")},
        {"description", {"one"}, Variant(Texts{"one"})},
        // Unknown to the schema: an array only when there are several values.
        {"unknownAttribute", {"one"}, Variant("one")},
        {"unknownAttribute", {"one", "two"}, Variant(Texts{"one", "two"})},
    };
    for (const auto& c : cases)
        EXPECT_EQ(schema->ToVariant(c.attribute, c.values), c.expected) << c.attribute;
}

std::vector<std::string> Column(const std::vector<Row>& rows, std::size_t field) {
    std::vector<std::string> texts;
    for (const auto& row : rows)
        texts.push_back(row[field].IsNull() ? "<null>" : row[field].ToText());
    return texts;
}

TEST(SortRows, OrdersByOneFieldIgnoringCaseWithMissingValuesLast) {
    std::vector<Row> rows = {
        {Variant("1"), Variant("bravo")},       {Variant("2"), Variant::Null()},
        {Variant("3"), Variant("Alpha")},       {Variant("4"), Variant("alpha")},
        {Variant("5"), Variant("\xC3\x96zil")}, {Variant("6"), Variant("Charlie")},
    };
    SortRows(rows, 1, false);
    // Equal keys keep their order; the non-ASCII letter folds but sorts after ASCII letters.
    EXPECT_EQ(Column(rows, 0), (std::vector<std::string>{"3", "4", "1", "6", "5", "2"}));
    SortRows(rows, 1, true);
    EXPECT_EQ(Column(rows, 0), (std::vector<std::string>{"5", "6", "1", "3", "4", "2"}));
}

std::shared_ptr<const platform::directory::EntryImage> ImageOf(const Attributes& attributes) {
    auto image = std::make_shared<platform::directory::EntryImage>();
    for (const auto& [name, values] : attributes)
        image->Add(name, values);
    return image;
}

TEST(KeptEntries, AnEntryIsFoundWhileItsLeaseLivesAndOnlyOnItsServer) {
    KeptEntries kept;
    const Attributes alice{{"cn", {"Alice"}}};
    {
        auto lease = kept.NewLease("ldapi://one");
        lease->Keep("CN=Alice", ImageOf(alice));
        EXPECT_EQ(kept.Find("ldapi://one", "CN=Alice"), alice);
        EXPECT_FALSE(kept.Find("ldapi://two", "CN=Alice"));
        EXPECT_FALSE(kept.Find("ldapi://one", "CN=Bob"));
    }
    EXPECT_FALSE(kept.Find("ldapi://one", "CN=Alice"));
    EXPECT_EQ(kept.Size(), 0u);
}

TEST(KeptEntries, AnEarlierLeaseEndingLeavesALaterCopyInPlace) {
    KeptEntries kept;
    const Attributes before{{"cn", {"before"}}}, after{{"cn", {"after"}}};
    auto first = kept.NewLease("ldapi://one");
    first->Keep("CN=Alice", ImageOf(before));
    auto second = kept.NewLease("ldapi://one");
    second->Keep("CN=Alice", ImageOf(after));
    first.reset();
    EXPECT_EQ(kept.Find("ldapi://one", "CN=Alice"), after);
    second.reset();
    EXPECT_FALSE(kept.Find("ldapi://one", "CN=Alice"));
}

TEST(LdifLines, ValuesAreWrittenAsRfc2849Asks) {
    const std::string longValue(200, 'a'), longLine = "description: " + longValue + "\n";
    const struct {
        std::string_view attribute, value, line;
    } cases[] = {
        {"cn", "Anna Albers 00001", "cn: Anna Albers 00001\n"},
        {"proxyAddresses", "X400:c=US;a= ;p=Lorvanta<x>",
         "proxyAddresses: X400:c=US;a= ;p=Lorvanta<x>\n"},
        {"dn", "", "dn:\n"},
        // Non-ASCII values and blanks, colons and angles at either end are read back through
        // ldapadd in LdifIntegrationTest.
        {"description", "a\nb", "description:: YQpi\n"},
        {"description", std::string_view("a\0b", 3), "description:: YQBi\n"},
        // OpenLDAP encodes this attribute whatever its value.
        {"userPassword", "{SSHA}abc", "userPassword:: e1NTSEF9YWJj\n"},
        {"description", longValue, longLine}, // long lines are not folded
    };
    for (const auto& c : cases) {
        std::string out;
        AppendLdifLine(out, c.attribute, c.value);
        EXPECT_EQ(out, c.line);
    }
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
