// How the store splits delivered messages and reads their header fields and keywords.

#include "platform/store/Delivery.h"

#include <gtest/gtest.h>

using namespace platform::store;

namespace {

TEST(ParseMessage, SplitsHeadersFromBodyWithCrlfLineEnds) {
    const auto message = ParseMessage("From: a@example.com\nTo: b@example.com,\n c@example.com\n"
                                      "Subject: Hello\r\n  there\n\nline 1\nline 2\n");
    EXPECT_EQ(message.headers, "From: a@example.com\r\nTo: b@example.com,\r\n c@example.com\r\n"
                               "Subject: Hello\r\n  there\r\n");
    EXPECT_EQ(message.body, "line 1\r\nline 2\r\n");
    EXPECT_EQ(message.subject, "Hello  there");
    EXPECT_EQ(message.from, "a@example.com");
    EXPECT_EQ(message.to, "b@example.com, c@example.com");
    EXPECT_EQ(message.cc, "");
}

TEST(ParseMessage, TakesTheFirstOfRepeatedFieldsAndNamesInAnyCase) {
    const auto message = ParseMessage("SUBJECT: one\r\nsubject: two\r\ncc:\tx@y\r\n\r\n");
    EXPECT_EQ(message.subject, "one");
    EXPECT_EQ(message.cc, "x@y");
    EXPECT_EQ(message.body, "");
}

TEST(ParseMessage, ReadsFieldsWrittenInTheObsoleteSyntax) {
    const auto message = ParseMessage("To : a@example.com\r\nSubject\t:  hi\r\n\r\n");
    EXPECT_EQ(message.to, "a@example.com");
    EXPECT_EQ(message.subject, "hi");
    EXPECT_EQ(message.headers, "To : a@example.com\r\nSubject\t:  hi\r\n");
}

TEST(ParseMessage, KeywordsAreTheEntriesOfTheKeywordsFields) {
    const struct {
        const char* name;
        std::string message;
        std::vector<std::string> keywords;
    } cases[] = {
        {"split at commas and trimmed", "Keywords: a, b ,\tc d \r\n\r\n", {"a", "b", "c d"}},
        {"empty entries dropped", "Keywords: ,a,, ,\t,\r\nKeywords:\r\n\r\n", {"a"}},
        {"every field in order, each entry once",
         "keywords: a, B\r\nSubject: x\r\nKEYWORDS: b, c, A\r\n\r\n",
         {"a", "B", "c"}},
        {"non-ASCII letters fold too",
         "Keywords: \xC3\x84rger, \xC3\xA4rger\r\n\r\n",
         {"\xC3\x84rger"}},
        {"folded field unfolded",
         "Keywords: one,\r\n two,\r\n\tthree\r\n\r\n",
         {"one", "two", "three"}},
        {"only header fields count", "Subject: x\r\n\r\nKeywords: body\r\n", {}},
        {"similar names are other fields", "X-Keywords: a\r\nKeywords2: b\r\n\r\n", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseMessage(c.message).keywords, c.keywords) << c.name;
}

// Comparing every entry with the ones kept before took hours for this many.
TEST(MessageKeywordsAtScale, EachOfManyEntriesIsKeptOnceInOrder) {
    constexpr int kDistinct = 200000;
    std::string header = "Keywords: ";
    std::vector<std::string> expected;
    for (int i = 0; i < kDistinct; ++i) {
        expected.push_back("tag" + std::to_string(i));
        header += expected.back() + ", ";
        header += (i % 2 ? "TAG" : "Tag") + std::to_string(i / 2) + (i % 4 == 3 ? ",\r\n " : ", ");
    }
    EXPECT_EQ(ParseMessage(header + "\r\nSubject: many\r\n\r\nbody\r\n").keywords, expected);
}

// Messages that mail transports take: how each splits into header block and body (where the
// block ends is FindHeaderBlock's, below).
TEST(ParseMessage, SplitsWhatMailTransportsHandOver) {
    const std::string longLine(5000, 'x');
    const struct {
        const char* name;
        std::string message, headers, body;
    } cases[] = {
        {"empty", "", "", ""},
        {"body without empty line", "Subject: x\r\nno colon here\r\nA: 1\r\n", "Subject: x\r\n",
         "no colon here\r\nA: 1\r\n"},
        {"mbox From line", "From a@b.example Mon Dec  7 17:34:19 2026\nSubject: s\n\nb\n",
         "Subject: s\r\n", "b\r\n"},
        {"obsolete From field is kept", "From : a@b.example\n\n", "From : a@b.example\r\n", ""},
        {"only the first From line is dropped", "From x\nFrom y\n", "", "From y\r\n"},
        {"bare CR stays in its line", "Subject: x\rX-RecipientList: s@e.example\r\n\r\nb\rc\n",
         "Subject: x\rX-RecipientList: s@e.example\r\n", "b\rc\r\n"},
        {"long lines stay whole", "X-Long: " + longLine + "\n\n" + longLine,
         "X-Long: " + longLine + "\r\n", longLine + "\r\n"},
    };
    for (const auto& c : cases) {
        const auto message = ParseMessage(c.message);
        EXPECT_EQ(message.headers, c.headers) << c.name;
        EXPECT_EQ(message.body, c.body) << c.name;
    }
}

// The header block's bounds, which every reader of a message shares.
TEST(FindHeaderBlock, BoundsTheFieldsAndTheBody) {
    struct Case {
        const char* message;
        std::size_t fieldsEnd, bodyStart;
    };
    const Case cases[] = {
        {"", 0, 0},
        {"\r\nbody", 0, 2},
        {"\nbody", 0, 1},
        {"no header here\n", 0, 0},
        {" continued: first\r\nA: 1\r\n", 0, 0},
        {"Subject: x\r\nno colon here\r\nA: 1\r\n", 12, 12},
        {"A: 1\r\n: no name\r\n", 6, 6},
        {"A: 1\r\nBad Name: x\r\n\r\nb", 6, 6},
        {"A: 1\n\nb", 5, 6},
        {"A: 1\r\n b\r\n\r\nbody", 10, 12},
        {"A: 1", 4, 4},
        {"To : a\r\n\r\n", 8, 10},
        {"Subject: x\rY: z\r\n\r\nb", 17, 19},
        {"Subject: x\r\n\r\r\n", 12, 12}, // a line of a lone CR is no empty line
    };
    for (const auto& c : cases) {
        const auto bounds = FindHeaderBlock(c.message);
        EXPECT_EQ(bounds.fieldsEnd, c.fieldsEnd) << c.message;
        EXPECT_EQ(bounds.bodyStart, c.bodyStart) << c.message;
    }
    EXPECT_EQ(HeaderFieldName("Subject\t: x"), "Subject");
    EXPECT_EQ(HeaderFieldName("no colon"), std::nullopt);
    EXPECT_EQ(HeaderFieldName(": x"), std::nullopt);
}

} // namespace
