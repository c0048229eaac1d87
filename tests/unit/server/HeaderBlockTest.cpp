// The message library's header block: where it ends is delivery's rule (FindHeaderBlock, in
// MessageParseTest), so that what a reader takes for the header is what delivery stored; here how
// an entity is split there, and the header's fields and their values.

#include "server/message/HeaderBlock.h"

#include <gtest/gtest.h>

using namespace server::message;

namespace {

TEST(HeaderBlockTest, TheHeaderKeepsTheEmptyLineThatEndsItAndTheBodyIsTheRest) {
    struct Case {
        const char* message;
        const char* header;
    };
    const Case cases[] = {
        {"Subject: a\r\n folded\r\nTo: t@x\r\n\r\nbody\r\n",
         "Subject: a\r\n folded\r\nTo: t@x\r\n\r\n"},
        // A line that is no field ends the block and starts the body.
        {"Subject: a\r\nnot a field\r\nFrom: b@x\r\n\r\nbody\r\n", "Subject: a\r\n"},
        {"no field\r\n\r\nbody\r\n", ""},
        {"\r\nbody\r\n", "\r\n"},
        {"Subject: a\r\n", "Subject: a\r\n"},
        {"Subject: a\nTo: t@x\n\nbody\n", "Subject: a\nTo: t@x\n\n"},
    };
    for (const auto& c : cases) {
        const std::string message = c.message;
        const auto entity = SplitEntity(message);
        EXPECT_EQ(entity.header, c.header) << c.message;
        EXPECT_EQ(std::string(entity.header) + std::string(entity.body), message) << c.message;
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
