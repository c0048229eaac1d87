// A directory record set's rows: attribute values turned into field values by what the server's
// schema says of each attribute, rows sorted the way a sorted search hands them out (case
// ignored, missing values last), and whole entries kept so that binds to the rows need no second
// search.

#include "platform/directory/DirectoryRecordset.h"
#include "platform/directory/DirectorySchema.h"
#include "platform/directory/KeptEntries.h"

#include <gtest/gtest.h>

using platform::Variant;
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

} // namespace
