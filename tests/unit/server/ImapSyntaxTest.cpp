// The IMAP front's reading and writing of the protocol: input framing with literals, commands,
// sequence sets and the quoting of what it sends.

#include "server/imap/ImapCommand.h"
#include "server/imap/ImapInput.h"
#include "server/imap/ImapSequenceSet.h"
#include "server/imap/ImapWire.h"

#include <gtest/gtest.h>

#include <map>

using namespace server::imap;

namespace {

// The events, one letter each (C command, + continuation, L line too long, T literal too
// large, N non-synchronising literal too large), with the command texts.
std::string Events(CommandInput& input, std::string_view bytes) {
    using enum InputEvent::Kind;
    const std::map<InputEvent::Kind, std::string> letters = {
        {Continue, "+"}, {LineTooLong, "L"}, {LiteralTooLarge, "T"}, {LiteralTooLargeNow, "N"}};
    input.Append(bytes);
    std::string out;
    while (auto event = input.Next())
        out += event->kind == Command ? "C[" + event->text + "]" : letters.at(event->kind);
    return out;
}

struct FramingCase {
    const char* name;
    std::string input;
    std::string events;
};

TEST(ImapInputTest, CutsCommandsAndLiteralsWithinTheLimits) {
    const FramingCase cases[] = {
        {"crlf", "a NOOP\r\nb NOOP\r\n", "C[a NOOP]C[b NOOP]"},
        {"bare lf", "a NOOP\nb", "C[a NOOP]"},
        {"synchronising literal waits for +", "a LOGIN {5}\r\nalice x\r\n",
         "+C[a LOGIN {5}\r\nalice x]"},
        {"non-synchronising literal", "a LOGIN {5+}\r\nal\nce x\r\n",
         "C[a LOGIN {5+}\r\nal\nce x]"},
        {"literal holding a line end", "a X {2}\r\n\r\n\r\n", "+C[a X {2}\r\n\r\n]"},
        {"empty literal", "a X {0}\r\n y\r\n", "+C[a X {0}\r\n y]"},
        {"literal that looks like a mark", "a X {3}\r\n{5}\r\nb NOOP\r\n",
         "+C[a X {3}\r\n{5}]C[b NOOP]"},
        {"literal over the limit", "a X {33}\r\nb NOOP\r\n", "TC[b NOOP]"},
        {"non-synchronising literal over the limit", "a X {33+}\r\n", "N"},
        {"digits beyond any size", "a X {99999999999999999999999}\r\n", "T"},
        {"line over the limit, then the next", "a " + std::string(40, 'x') + "\r\nb NOOP\r\n",
         "LC[b NOOP]"},
        {"not a literal mark", "a X {3x}\r\n", "C[a X {3x}]"},
        {"literals of both kinds", "a LOGIN {3}\r\nbob {2+}\r\npw\r\n",
         "+C[a LOGIN {3}\r\nbob {2+}\r\npw]"},
    };
    // Each in one piece, a line at a time (as a client waits for "+"), and a byte at a time.
    for (const auto& c : cases) {
        CommandInput whole({.maxLine = 32, .maxLiteral = 32, .maxCommand = 100});
        EXPECT_EQ(Events(whole, c.input), c.events) << c.name;
        CommandInput bylines({.maxLine = 32, .maxLiteral = 32, .maxCommand = 100});
        std::string events;
        for (std::size_t at = 0; at < c.input.size();) {
            const auto end = std::min(c.input.find('\n', at), c.input.size() - 1) + 1;
            events += Events(bylines, std::string_view(c.input).substr(at, end - at));
            at = end;
        }
        EXPECT_EQ(events, c.events) << c.name << ", a line at a time";
        CommandInput bytewise({.maxLine = 32, .maxLiteral = 32, .maxCommand = 100});
        events.clear();
        for (char byte : c.input)
            events += Events(bytewise, std::string(1, byte));
        EXPECT_EQ(events, c.events) << c.name << ", a byte at a time";
    }
}

TEST(ImapInputTest, ALineTooLongIsDroppedWhileItArrivesNotKept) {
    CommandInput input({.maxLine = 32, .maxLiteral = 32, .maxCommand = 100});
    EXPECT_EQ(Events(input, "t1 " + std::string(100, 'x')), "L");
    EXPECT_EQ(Events(input, std::string(100000, 'y')), "");
    EXPECT_EQ(Events(input, "zz\r\nt2 NOOP\r\n"), "C[t2 NOOP]");
}

// Arguments written back compactly: atoms bare, strings in <>, lists in ().
std::string Shape(const std::vector<Argument>& arguments) {
    std::string out;
    for (const auto& argument : arguments) {
        if (!out.empty())
            out += ' ';
        if (argument.IsList())
            out += "(" + Shape(argument.items) + ")";
        else if (argument.kind == Argument::Kind::String)
            out += "<" + argument.text + ">";
        else
            out += argument.text;
    }
    return out;
}

struct ParseCase {
    std::string text;
    std::string expected; // "tag NAME shape", or "error"
};

TEST(ImapCommandTest, ReadsTagsNamesAndEveryKindOfArgument) {
    const ParseCase cases[] = {
        {"a1 noop", "a1 NOOP "},
        {"a2 LOGIN alice \"pa ss\\\"w\\\\\"", "a2 LOGIN alice <pa ss\"w\\>"},
        {"a3 LOGIN {5}\r\nalice {2+}\r\n\"x", "a3 LOGIN <alice> <\"x>"},
        {"a4 FETCH 1:* (FLAGS BODY.PEEK[HEADER.FIELDS (From To)]<0.10>)",
         "a4 FETCH 1:* (FLAGS BODY.PEEK[HEADER.FIELDS (From To)]<0.10>)"},
        {"a5 STORE 1 +FLAGS (\\Seen $Label1)", "a5 STORE 1 +FLAGS (\\Seen $Label1)"},
        {"a6 LIST \"\" %", "a6 LIST <> %"},
        {"a7 SEARCH OR (FROM x) NOT SEEN", "a7 SEARCH OR (FROM x) NOT SEEN"},
        {"a8 SEARCH ((ALL))", "a8 SEARCH ((ALL))"},
        {"", "error"},
        {"+ NOOP", "error"},
        {"a9", "error"},
        {"a9 NOOP  x", "error"},
        {"a9 LOGIN \"open", "error"},
        {"a9 LOGIN \"bad \\x escape\"", "error"},
        {"a9 SEARCH (ALL", "error"},
        {"a9 SEARCH ALL)", "error"},
        {"a9 FETCH 1 BODY[HEADER", "error"},
        {"a9 LOGIN {9}\r\nshort", "error"},
        {"a9 SEARCH " + std::string(40, '(') + std::string(40, ')'), "error"},
    };
    for (const auto& c : cases) {
        const auto parsed = ParseCommand(c.text);
        const auto got = parsed.error.empty() ? parsed.command.tag + " " + parsed.command.name +
                                                    " " + Shape(parsed.command.arguments)
                                              : "error";
        EXPECT_EQ(got, c.expected) << c.text;
    }
}

TEST(ImapCommandTest, TagOfBadCommandsIsAnsweredWhenReadable) {
    EXPECT_EQ(TagOf("a1 BOGUS \"x"), "a1");
    EXPECT_EQ(TagOf("a1"), "a1");
    EXPECT_EQ(TagOf("(x) NOOP"), "*");
    EXPECT_EQ(TagOf(""), "*");
}

TEST(ImapWireTest, KeywordsThatAreNoAtomsComeBackFromTheirAtoms) {
    const std::pair<std::string, std::string> cases[] = {
        {"alice.smith@example.com", "alice.smith@example.com"},
        {"Work list", "Work&20list"},
        {"a&b", "a&26b"},
        {"\\Seen", "&5CSeen"},
        {"(x)%*\"]{", "&28x&29&25&2A&22&5D&7B"},
        {"Grüße", "Gr&C3&BC&C3&9Fe"},
        {"", "&"},
    };
    for (const auto& [keyword, atom] : cases) {
        EXPECT_EQ(KeywordAtom(keyword), atom);
        EXPECT_EQ(KeywordOfAtom(atom), keyword);
        for (unsigned char c : KeywordAtom(keyword))
            EXPECT_TRUE(IsAtomChar(c)) << keyword;
    }
    // Any atom a client makes up names some keyword.
    EXPECT_EQ(KeywordOfAtom("50&"), "50&");
    EXPECT_EQ(KeywordOfAtom("&zz"), "&zz");
}

TEST(ImapWireTest, FolderNamesAreModifiedUtf7) {
    EXPECT_EQ(MailboxNameOf("Sent Items"), "Sent Items");
    EXPECT_EQ(MailboxNameOf("Entwürfe & Co"), "Entw&APw-rfe &- Co");
    EXPECT_EQ(MailboxNameOf("a&b"), "a&-b");
    EXPECT_EQ(MailboxNameOf("日本"), "&ZeVnLA-");
}

TEST(ImapWireTest, StringsAreQuotedOrSentAsLiterals) {
    EXPECT_EQ(Quote("plain"), "\"plain\"");
    EXPECT_EQ(Quote("a \"q\" \\"), "\"a \\\"q\\\" \\\\\"");
    EXPECT_EQ(Quote("line\r\nbreak"), "{11}\r\nline\r\nbreak");
    EXPECT_EQ(Quote("ü"), "{2}\r\nü");
    EXPECT_EQ(NString(std::nullopt), "NIL");
}

TEST(ImapSequenceSetTest, NumbersRangesAndStar) {
    struct Case {
        const char* text;
        std::uint32_t largest;
        std::vector<std::uint32_t> in, out;
    };
    const Case cases[] = {
        {"1", 5, {1}, {2}},
        {"2:4", 5, {2, 3, 4}, {1, 5}},
        {"4:2", 5, {2, 3, 4}, {1, 5}},
        {"3:*", 5, {3, 5}, {2}},
        {"*", 5, {5}, {4}},
        {"1,3,5:6", 9, {1, 3, 5, 6}, {2, 4, 7}},
        {"7:*", 3, {3, 7}, {2}}, // "n:*" past the end still names the last one
    };
    for (const auto& c : cases) {
        const auto set = SequenceSet::Parse(c.text);
        ASSERT_TRUE(set) << c.text;
        for (auto n : c.in)
            EXPECT_TRUE(set->Contains(n, c.largest)) << c.text << " " << n;
        for (auto n : c.out)
            EXPECT_FALSE(set->Contains(n, c.largest)) << c.text << " " << n;
    }
    for (const char* bad : {"", "0", "1:", ",1", "1,,2", "a", "01", "4294967296", "1:2:3"})
        EXPECT_FALSE(SequenceSet::Parse(bad)) << bad;
}

} // namespace
