// What the IMAP front reads out of a stored message: envelope, body structure, sections and
// search dates.

#include "server/imap/ImapMessage.h"
#include "server/imap/ImapSearch.h"

#include <gtest/gtest.h>

using namespace server::imap;

namespace {

TEST(ImapMessageTest, EnvelopeAddressesInEveryUsualForm) {
    struct Case {
        const char* to;
        const char* addresses;
    };
    const Case cases[] = {
        {"a@x.org", "((NIL NIL \"a\" \"x.org\"))"},
        {"Ann <a@x.org>, b@y.org", "((\"Ann\" NIL \"a\" \"x.org\")(NIL NIL \"b\" \"y.org\"))"},
        {"\"Doe, Jane\" <j@x.org>", "((\"Doe, Jane\" NIL \"j\" \"x.org\"))"},
        {"j@x.org (Jane Doe)", "((NIL NIL \"j\" \"x.org\"))"},
        {"=?utf-8?q?J=C3=BCrgen?= <j@x.org>",
         "((\"=?utf-8?q?J=C3=BCrgen?=\" NIL \"j\" \"x.org\"))"},
        {"team: a@x.org, b@x.org;",
         "((NIL NIL \"team\" NIL)(NIL NIL \"a\" \"x.org\")(NIL NIL \"b\" "
         "\"x.org\")(NIL NIL NIL NIL))"},
        {"<@relay:u@x.org>", "((NIL NIL \"u\" \"x.org\"))"},
        {"undisclosed", "((NIL NIL \"undisclosed\" \"\"))"},
    };
    for (const auto& c : cases) {
        const auto envelope = Envelope(std::string("To: ") + c.to + "\r\n\r\n");
        EXPECT_EQ(envelope,
                  std::string("(NIL NIL NIL NIL NIL ") + c.addresses + " NIL NIL NIL NIL)")
            << c.to;
    }
}

TEST(ImapMessageTest, EnvelopeTakesSenderAndReplyToFromFromWhenMissing) {
    EXPECT_EQ(Envelope("Subject: Hi\r\n  there\r\nFrom: f@x\r\nReply-To: r@x\r\nMessage-ID: "
                       "<1@x>\r\nIn-Reply-To: <0@x>\r\n\r\n"),
              "(NIL \"Hi  there\" ((NIL NIL \"f\" \"x\")) ((NIL NIL \"f\" \"x\")) ((NIL NIL \"r\" "
              "\"x\")) NIL NIL NIL \"<0@x>\" \"<1@x>\")");
}

const std::string kMultipart =
    "From: a@x\r\nContent-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n"
    "preamble\r\n"
    "--b1\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nhello\r\n"
    "--b1\r\nContent-Type: message/rfc822\r\n\r\nSubject: inner\r\n\r\ninner body\r\n"
    "--b1\r\nContent-Type: application/pdf; name=a.pdf\r\nContent-Transfer-Encoding: base64\r\n"
    "Content-Disposition: attachment; filename=\"a.pdf\"\r\n\r\nJVBE\r\n"
    "--b1--\r\nepilogue\r\n";

TEST(ImapMessageTest, BodyStructureOfAMultipartMessage) {
    EXPECT_EQ(
        BodyStructure(kMultipart, false),
        "((\"TEXT\" \"PLAIN\" (\"CHARSET\" \"utf-8\") NIL NIL \"7BIT\" 5 0)"
        "(\"MESSAGE\" \"RFC822\" NIL NIL NIL \"7BIT\" 28 (NIL \"inner\" NIL NIL NIL NIL NIL "
        "NIL NIL NIL) (\"TEXT\" \"PLAIN\" (\"CHARSET\" \"US-ASCII\") NIL NIL \"7BIT\" 10 0) 2)"
        "(\"APPLICATION\" \"PDF\" (\"NAME\" \"a.pdf\") NIL NIL \"BASE64\" 4) \"MIXED\")");
    EXPECT_NE(BodyStructure(kMultipart, true).find("(\"attachment\" (\"FILENAME\" \"a.pdf\"))"),
              std::string::npos);
    EXPECT_NE(BodyStructure(kMultipart, true).find("\"MIXED\" (\"BOUNDARY\" \"b1\") NIL NIL NIL)"),
              std::string::npos);
}

TEST(ImapMessageTest, SectionsNameHeadersTextsAndParts) {
    struct Case {
        const char* section;
        std::optional<std::string> bytes;
    };
    const Case cases[] = {
        {"1", "hello"},
        {"1.MIME", "Content-Type: text/plain; charset=utf-8\r\n\r\n"},
        {"2", "Subject: inner\r\n\r\ninner body"},
        {"2.HEADER", "Subject: inner\r\n\r\n"},
        {"2.TEXT", "inner body"},
        {"2.1", "inner body"},
        {"3", "JVBE"},
        {"4", std::nullopt},
        {"1.HEADER", std::nullopt},
        {"0", std::nullopt},
        {"TEXT", kMultipart.substr(kMultipart.find("preamble"))},
        {"HEADER", "From: a@x\r\nContent-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n"},
        {"MIME", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SectionBytes(kMultipart, c.section, {}), c.bytes) << c.section;
    // A single-part message's part 1 is its body.
    EXPECT_EQ(SectionBytes("Subject: s\r\n\r\nbody\r\n", "1", {}), "body\r\n");
}

// The dates of messages are MessageDateTest's.
TEST(ImapMessageTest, DatesOfSearches) {
    EXPECT_EQ(ParseSearchDate("7-Dec-2026"), 1796637600 / 86400);
    for (const char* bad : {"7-Dec-26", "7/12/2026", "32-Dec-2026", "7-Foo-2026", ""})
        EXPECT_EQ(ParseSearchDate(bad), std::nullopt) << bad;
}

// A header block ends where delivery ends it (HeaderBlockTest): at the first line that is neither
// a field nor a continuation. The fields after such a line belong to the body, in a message as in
// a part.
TEST(ImapMessageTest, AMalformedHeaderEndsWhereDeliveryEndsIt) {
    const std::string message = "Subject: s\r\nnot a field\r\nFrom: f@x\r\n\r\nbody\r\n";
    EXPECT_EQ(SectionBytes(message, "HEADER", {}), "Subject: s\r\n");
    EXPECT_EQ(SectionBytes(message, "TEXT", {}), "not a field\r\nFrom: f@x\r\n\r\nbody\r\n");
    EXPECT_EQ(SectionBytes(message, "HEADER.FIELDS", {"From", "Subject"}), "Subject: s\r\n\r\n");
    EXPECT_EQ(Envelope(message), "(NIL \"s\" NIL NIL NIL NIL NIL NIL NIL NIL)");

    const std::string multipart =
        "Content-Type: multipart/mixed; boundary=b\r\n\r\n"
        "--b\r\nContent-Type: text/html\r\nbogus\r\nContent-Type: image/png\r\n\r\n<p>x</p>\r\n"
        "--b--\r\n";
    EXPECT_EQ(SectionBytes(multipart, "1.MIME", {}), "Content-Type: text/html\r\n");
    EXPECT_EQ(SectionBytes(multipart, "1", {}), "bogus\r\nContent-Type: image/png\r\n\r\n<p>x</p>");
    EXPECT_EQ(BodyStructure(multipart, false),
              "((\"TEXT\" \"HTML\" (\"CHARSET\" \"US-ASCII\") NIL NIL \"7BIT\" 42 3) \"MIXED\")");
}

// A section placed from the first lines of a message is where the whole message places it; when
// those lines cannot tell, it asks for more. Every section of these messages, from every start
// that ends at a line end past the header block.
TEST(ImapMessageTest, SectionsPlacedFromTheStartOfAMessageAreWhereTheWholeMessagePlacesThem) {
    const std::string single = "Subject: s\r\nContent-Type: message/rfc822\r\n\r\n"
                               "Subject: inner\r\nFrom: f@x\r\n\r\ninner\r\nbody\r\n";
    const std::string nested =
        "Content-Type: multipart/mixed; boundary=o\r\n\r\n"
        "--o\r\nContent-Type: multipart/alternative; boundary=i\r\n\r\n"
        "--i\r\n\r\nplain\r\n--i\r\nContent-Type: text/html\r\n\r\n<p>html</p>\r\n--i--\r\n"
        "--o\r\nContent-Type: text/plain\r\n\r\nlast\r\nline\r\n--o--\r\n";
    const char* sections[] = {
        "",    "TEXT",     "HEADER", "HEADER.FIELDS", "1", "1.MIME", "1.1",
        "1.2", "1.2.MIME", "2",      "2.MIME",        "3", "2.TEXT", "2.HEADER",
        "2.1", "1.HEADER", "1.TEXT", "1.1.1",         "4", "0"};
    int settledEarly = 0;
    for (const auto* message : {&kMultipart, &single, &nested}) {
        const std::string_view whole = *message;
        const auto headerEnd = whole.find("\r\n\r\n") + 4;
        for (const auto* section : sections) {
            SCOPED_TRACE(std::string(section) + " of " + std::string(whole.substr(0, 30)));
            const auto expected = LocateSection(whole, whole.size(), section);
            ASSERT_NE(expected.found, SectionPlace::Found::NeedsMore);
            for (auto end = whole.find('\n', headerEnd - 1); end != std::string_view::npos;
                 end = whole.find('\n', end + 1)) {
                const auto start = whole.substr(0, end + 1);
                const auto place = LocateSection(start, whole.size(), section);
                if (place.found == SectionPlace::Found::NeedsMore)
                    continue;
                EXPECT_EQ(place.found, expected.found) << start.size();
                EXPECT_EQ(place.offset, expected.offset) << start.size();
                EXPECT_EQ(place.length, expected.length) << start.size();
                settledEarly += start.size() < whole.size();
            }
        }
    }
    // Not everything waits for the whole message.
    EXPECT_GT(settledEarly, 50);
}

} // namespace
