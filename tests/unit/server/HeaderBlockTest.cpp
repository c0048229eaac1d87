// The message library's header block: where it ends (delivery's rule, so that what a reader
// takes for the header is what delivery stored), its fields and their values.

#include "server/message/HeaderBlock.h"

#include "platform/store/Delivery.h"

#include <gtest/gtest.h>

using namespace server::message;

namespace {

// "name=value;" for each field.
std::string Fields(const std::vector<HeaderField>& fields) {
    std::string out;
    for (const auto& field : fields)
        out += field.name + "=" + field.value + ";";
    return out;
}

TEST(HeaderBlockTest, EntitiesSplitWhereDeliverySplitsTheMessage) {
    struct Case {
        const char* message;
        const char* header; // the empty line that ends it included, if one does
    };
    const Case cases[] = {
        {"Subject: a\r\n\r\nbody\r\n", "Subject: a\r\n\r\n"},
        {"Subject: a\r\n folded\r\nTo: t@x\r\n\r\nbody\r\n",
         "Subject: a\r\n folded\r\nTo: t@x\r\n\r\n"},
        // A line that is no field ends the block and starts the body.
        {"Subject: a\r\nnot a field\r\nFrom: b@x\r\n\r\nbody\r\n", "Subject: a\r\n"},
        {"Subject: a\r\n: no name\r\n\r\nbody\r\n", "Subject: a\r\n"},
        {"Subject: a\r\nX Y: blank in the name\r\n\r\nbody\r\n", "Subject: a\r\n"},
        // A first line that continues nothing, or is no field: no header at all.
        {" Subject: a\r\n\r\nbody\r\n", ""},
        {"no field\r\n\r\nbody\r\n", ""},
        {"\r\nbody\r\n", "\r\n"},
        {"", ""},
        // The obsolete blanks before the colon; a header without a body; LF line ends.
        {"To : t@x\r\n\r\nbody\r\n", "To : t@x\r\n\r\n"},
        {"Subject: a\r\n", "Subject: a\r\n"},
        {"Subject: a\nTo: t@x\n\nbody\n", "Subject: a\nTo: t@x\n\n"},
    };
    for (const auto& c : cases) {
        const std::string message = c.message;
        const auto entity = SplitEntity(message);
        EXPECT_EQ(entity.header, c.header) << c.message;
        EXPECT_EQ(std::string(entity.header) + std::string(entity.body), message) << c.message;
        // What delivery stores: the same fields, and (line ends aside) the same body.
        const auto stored = platform::store::ParseMessage(message);
        EXPECT_EQ(Fields(ReadHeaderFields(entity.header)), Fields(ReadHeaderFields(stored.headers)))
            << c.message;
        if (message.find("\r\n") != std::string::npos) {
            EXPECT_EQ(entity.body, stored.body) << c.message;
        }
    }
}

TEST(HeaderBlockTest, FieldsWithTheirNamesRawLinesAndUnfoldedValues) {
    const std::string header = "Subject:  Hello\r\n\tworld \r\nTo : t@x\r\nX-Empty:\r\n"
                               "bogus line\r\nFrom: after@x\r\n\r\n";
    const auto fields = ReadHeaderFields(header);
    ASSERT_EQ(fields.size(), 3u);
    EXPECT_EQ(fields[0].name, "Subject");
    EXPECT_EQ(fields[0].raw, "Subject:  Hello\r\n\tworld \r\n");
    EXPECT_EQ(fields[0].value, "Hello\tworld");
    EXPECT_EQ(fields[1].name, "To");
    EXPECT_EQ(fields[1].value, "t@x");
    EXPECT_EQ(fields[2].name, "X-Empty");
    EXPECT_EQ(fields[2].value, "");
    // The fields after a line that is no field are the body's, not the header's.
    EXPECT_EQ(FieldValue(fields, "FROM"), std::nullopt);
    EXPECT_EQ(FieldValue(fields, "subject"), "Hello\tworld");
    EXPECT_EQ(FieldValue(fields, "to"), "t@x");
}

} // namespace
