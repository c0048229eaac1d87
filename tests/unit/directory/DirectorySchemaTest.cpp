// Attribute values turned into field values by what the server's schema says of each attribute.

#include "platform/directory/DirectorySchema.h"

#include <gtest/gtest.h>

using platform::Variant;
using platform::directory::DirectorySchema;

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

} // namespace

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
