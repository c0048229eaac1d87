// The SMTP and LMTP protocol without sockets: bytes in, replies and backend calls out.

#include "SmtpTestBackend.h"

#include "server/log/ServerLog.h"
#include "server/smtp/SmtpSession.h"

#include <gtest/gtest.h>

#include <set>

using namespace smtptest;

namespace {

Limits SmallLimits() {
    return {.maxMessageBytes = 200, .maxCommandLine = 64, .maxRecipients = 2};
}

// The replies to `input` fed a byte at a time, as a slow network delivers it.
std::vector<Reply> FeedBytewise(Session& session, const std::string& input) {
    std::vector<Reply> replies;
    for (char byte : input)
        for (auto& reply : session.Feed(std::string(1, byte)))
            replies.push_back(std::move(reply));
    return replies;
}

const std::string kRcpt = "RCPT TO:<alice@example.com>\r\n";
const std::string kMessage = "Subject: hi\r\n\r\nbody\r\n.\r\n";
const std::string kRcptBob = "RCPT TO:<bob@example.com>\r\n";
const std::string kJoerg = "<j\xC3\xB6rg@example.com>"; // jörg, in UTF-8

// Every sequence is fed in one piece (as a pipelining client sends it) and a byte at a time. The
// submission sequences are SmtpSubmissionTest's.
TEST_P(SmtpSequence, GivesTheRepliesInOrder) {
    const auto& c = GetParam();
    for (const bool bytewise : {false, true}) {
        TestBackend backend;
        Session session("mail01.example.com", SmallLimits(), backend, c.protocol,
                        c.client ? c.client : "local");
        if (c.client)
            session.RequireLogin(c.client == std::string("local"));
        EXPECT_EQ(Codes(bytewise ? FeedBytewise(session, c.input) : session.Feed(c.input)), c.codes)
            << (bytewise ? "a byte at a time" : "in one piece");
    }
}

const SequenceCase kSequences[] = {
    {"WholeTransaction",
     kEhlo + kMail + kRcpt + "DATA\r\n" + kMessage + "QUIT\r\n",
     {250, 250, 250, 354, 250, 221}},
    {"HeloWorksToo", "HELO client\r\n" + kMail, {250, 250}},
    {"BareLineFeedsEndCommandLinesButBareCarriageReturnsDoNot",
     "EHLO c\nMAIL FROM:<a@b.c>\nRCPT TO:<bob@example.com>\nNOOP\rNOOP\r\n",
     {250, 250, 250, 500}},
    {"ADataLineEndedByABareLineFeedCannotEndTheMessage",
     kEhlo + kMail + kRcpt + "DATA\n.\r\n" + kMail,
     {250, 250, 250, 354, 554, 250}},
    {"MailBeforeEhlo", kMail, {503}},
    {"RcptBeforeMail", kEhlo + kRcpt, {250, 503}},
    {"DataBeforeMail", kEhlo + "DATA\r\n", {250, 503}},
    {"DataWithoutValidRecipients",
     kEhlo + kMail + "RCPT TO:<nobody@example.com>\r\nDATA\r\n",
     {250, 250, 550, 554}},
    {"TransientRecipientFailure",
     kEhlo + kMail + "RCPT TO:<busy@example.com>\r\nDATA\r\n",
     {250, 250, 451, 554}},
    {"NestedMail", kEhlo + kMail + kMail, {250, 250, 503}},
    {"RsetEndsTheTransaction",
     kEhlo + kMail + "RSET\r\n" + kRcpt + kMail,
     {250, 250, 250, 503, 250}},
    {"EhloEndsTheTransaction", kEhlo + kMail + kEhlo + kRcpt, {250, 250, 250, 503}},
    {"EhloNeedsADomain", "EHLO\r\nEHLO  \r\nHELO\r\n", {501, 501, 501}},
    {"UnknownAndEmptyCommands", "FROB\r\n\r\n", {500, 500}},
    {"NotImplemented", "VRFY alice\r\nEXPN list\r\nSTARTTLS\r\n", {502, 502, 502}},
    {"NoopAnytime", "NOOP\r\nnoop with text\r\n", {250, 250}},
    {"ArgumentsWhereNoneBelong", kEhlo + "RSET x\r\nDATA x\r\nQUIT x\r\n", {250, 501, 501, 501}},
    {"MailSyntax",
     kEhlo + "MAIL TO:<a@b.c>\r\nMAIL\r\nMAIL FROM:\r\nMAIL FROM:a@b.c\r\n",
     {250, 501, 501, 501, 250}},
    {"RcptSyntax",
     kEhlo + kMail + "RCPT TO:<>\r\nRCPT TO:alice@example.com\r\n",
     {250, 250, 501, 250}},
    {"DeclaredSize",
     kEhlo + "MAIL FROM:<a@b.c> SIZE=201\r\n" +
         "MAIL FROM:<a@b.c> SIZE=99999999999999999999999\r\n" + "MAIL FROM:<a@b.c> SIZE=200\r\n",
     {250, 552, 552, 250}},
    {"DeclaredSizeNotANumber",
     kEhlo + "MAIL FROM:<a@b.c> SIZE=12k\r\nMAIL FROM:<a@b.c> SIZE=\r\n",
     {250, 501, 501}},
    {"BodyParameter",
     kEhlo + "MAIL FROM:<a@b.c> BODY=8BITMIME\r\nRSET\r\n"
             "MAIL FROM:<a@b.c> BODY=BINARYMIME\r\n",
     {250, 250, 250, 501}},
    {"UnknownParameters",
     kEhlo + "MAIL FROM:<a@b.c> AUTH=<>\r\n" + kMail + "RCPT TO:<alice@example.com> XFOO=1\r\n",
     {250, 555, 250, 555}},
    // DSN's parameters are taken (an MTA in front handles the notices), if well-formed.
    {"DsnParameters",
     kEhlo + "MAIL FROM:<a@b.c> RET=HDRS ENVID=QQ+2B1\r\n" +
         "RCPT TO:<alice@example.com> NOTIFY=SUCCESS,DELAY\r\n" +
         "RCPT TO:<bob@example.com> NOTIFY=NEVER ORCPT=x400;w\r\n",
     {250, 250, 250, 250}},
    {"MalformedDsnParameters",
     kEhlo + "MAIL FROM:<a@b.c> RET=ALL\r\nMAIL FROM:<a@b.c> ENVID=a=b\r\n" + kMail +
         "RCPT TO:<alice@example.com> NOTIFY=SOMETIMES\r\n" +
         "RCPT TO:<alice@example.com> ORCPT=rfc822;a+2\r\n" +
         "RCPT TO:<alice@example.com> ORCPT=a@b.c\r\n" +
         "RCPT TO:<alice@example.com> ORCPT=rfc822;a+2bb\r\n",
     {250, 501, 501, 250, 501, 501, 501, 501}},
    {"TooManyRecipients",
     kEhlo + kMail + kRcpt + "RCPT TO:<bob@example.com>\r\n" + "RCPT TO:<carol@example.com>\r\n",
     {250, 250, 250, 250, 452}},
    // Each RCPT is kept (LMTP owes it a reply), so a repeat counts: the envelope stays bounded.
    {"RepeatedRecipientCountsAgainstTheLimit",
     kEhlo + kMail + kRcpt + kRcpt + "RCPT TO:<bob@example.com>\r\n",
     {250, 250, 250, 250, 452}},
    {"OverlongCommandLineThenGoesOn", std::string(100, 'N') + "\r\n" + kEhlo, {500, 250}},
    {"CommandLineAtAndOneOverTheLimit",
     "NOOP " + std::string(57, 'x') + "\r\nNOOP " + std::string(58, 'x') + "\r\n",
     {250, 500}},
    {"NothingAfterQuit", "QUIT\r\nNOOP\r\n", {221}},
    {"IncompleteLineWaits", "NOOP", {}},
    {"SmtpDoesNotKnowLhlo", kLhlo + kMail, {500, 503}},
    {"Utf8AddressesNeedSmtputf8",
     kEhlo + "MAIL FROM:" + kJoerg + "\r\n" + kMail + "RCPT TO:" + kJoerg + "\r\n",
     {250, 553, 250, 553}},
    {"Smtputf8AllowsUtf8AddressesForOneTransaction",
     kEhlo + "MAIL FROM:" + kJoerg + " SMTPUTF8\r\nRCPT TO:" + kJoerg + "\r\nRSET\r\n" + kMail +
         "RCPT TO:" + kJoerg + "\r\n",
     {250, 250, 250, 250, 250, 553}},
    {"Smtputf8TakesNoValueAndAddressesMustBeWellFormedUtf8",
     kEhlo + "MAIL FROM:<a@b.c> SMTPUTF8=yes\r\nMAIL FROM:<a@b.c> SMTPUTF8\r\n" +
         "RCPT TO:<j\xC3@example.com>\r\nRCPT TO:<j\xC0\xAF@example.com>\r\n",
     {250, 501, 250, 553, 553}},
    {"LmtpTakesSmtputf8Too",
     kLhlo + "MAIL FROM:<a@b.c> SMTPUTF8\r\nRCPT TO:" + kJoerg + "\r\n",
     {250, 250, 250},
     Protocol::Lmtp},
    {"LmtpOneReplyPerAcceptedRecipientAfterTheMessage",
     kLhlo + kMail + kRcpt + "RCPT TO:<nobody@example.com>\r\n" + kRcptBob + "DATA\r\n" + kMessage +
         "QUIT\r\n",
     {250, 250, 250, 550, 250, 354, 250, 250, 221},
     Protocol::Lmtp},
    {"LmtpRefusesEhloAndHelo",
     "EHLO c\r\nHELO c\r\n" + kMail + kLhlo + kMail,
     {500, 500, 503, 250, 250},
     Protocol::Lmtp},
    {"LmtpDataWithoutRecipientsIs503",
     kLhlo + kMail + "RCPT TO:<nobody@example.com>\r\nDATA\r\n",
     {250, 250, 550, 503},
     Protocol::Lmtp},
    {"LmtpRefusesARefusedMessageForEachRecipient",
     kLhlo + kMail + kRcpt + kRcptBob + "DATA\r\nS: x\nb\r\n.\r\n" + kMail,
     {250, 250, 250, 250, 354, 554, 554, 250},
     Protocol::Lmtp},
    {"LmtpRepeatedRecipientGetsAReplyForEachRcpt",
     kLhlo + kMail + kRcpt + kRcpt + "DATA\r\n" + kMessage + "NOOP\r\n",
     {250, 250, 250, 250, 354, 250, 250, 250},
     Protocol::Lmtp}};

INSTANTIATE_TEST_SUITE_P(Cases, SmtpSequence, ::testing::ValuesIn(kSequences),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SmtpSession, GreetsAndAnnouncesItsExtensionsAndSizeLimit) {
    TestBackend backend;
    Session session("mail01.example.com", SmallLimits(), backend);
    EXPECT_EQ(session.Greeting().code, 220);
    EXPECT_NE(session.Greeting().lines.at(0).find("mail01.example.com"), std::string::npos);
    const auto replies = session.Feed(kEhlo);
    ASSERT_EQ(replies.size(), 1u);
    const auto& lines = replies[0].lines;
    EXPECT_NE(lines.at(0).find("mail01.example.com"), std::string::npos);
    const std::set<std::string> extensions(lines.begin() + 1, lines.end());
    EXPECT_EQ(extensions,
              (std::set<std::string>{"8BITMIME", "DSN", "PIPELINING", "SIZE 200", "SMTPUTF8"}));
    EXPECT_EQ(session.ClosingReply().code, 421);
    // LMTP's LHLO says the same.
    Session lmtp("mail01.example.com", SmallLimits(), backend, Protocol::Lmtp);
    EXPECT_NE(lmtp.Greeting().lines.at(0).find("LMTP"), std::string::npos);
    const auto lhlo = lmtp.Feed(kLhlo);
    ASSERT_EQ(Codes(lhlo), std::vector<int>{250});
    EXPECT_EQ(std::set<std::string>(lhlo[0].lines.begin() + 1, lhlo[0].lines.end()), extensions);
}

// That Receive leaves backend calls to the server and keeps what follows them is SmtpServerTest's
// (a hung lookup holds up no other session; pipelined commands after RCPT are answered).
// Only CRLF "." CRLF ends a message: ends that other servers accept (a bare LF on either side of
// the dot) must not end it here, or a message could smuggle a second one past the filters of the
// server that relayed it. Such a stream is one message holding bare LFs: refused.
struct MessageCase {
    const char* name;
    std::string sent;                  // after the 354, up to and with the end line
    std::optional<std::string> stored; // none: refused, with a reply that says `says`
    int code = 250;
    const char* says = "";
    Verdict verdict = Verdict::Accept("stored");
};

class SmtpMessage : public ::testing::TestWithParam<MessageCase> {};

TEST_P(SmtpMessage, IsDeliveredUnstuffedOrRefusedAndTheSessionGoesOn) {
    const auto& c = GetParam();
    for (const bool bytewise : {false, true}) {
        SCOPED_TRACE(bytewise ? "a byte at a time" : "in one piece");
        TestBackend backend;
        backend.shared.deliveryVerdict = c.verdict;
        Session session("mail01.example.com", SmallLimits(), backend);
        ASSERT_EQ(Codes(session.Feed(kEhlo + kMail + kRcpt + "DATA\r\n")),
                  (std::vector<int>{250, 250, 250, 354}));
        ASSERT_TRUE(session.ReceivingMessage());
        const auto replies = bytewise ? FeedBytewise(session, c.sent) : session.Feed(c.sent);
        ASSERT_EQ(Codes(replies), std::vector<int>{c.code});
        if (c.stored) {
            EXPECT_EQ(replies[0].lines, std::vector<std::string>{c.verdict.text});
            EXPECT_EQ(backend.shared.delivered, std::vector<std::string>{*c.stored});
        } else {
            EXPECT_NE(replies[0].lines.at(0).find(c.says), std::string::npos)
                << replies[0].lines.at(0);
            EXPECT_TRUE(backend.shared.delivered.empty());
        }
        EXPECT_FALSE(session.ReceivingMessage());
        EXPECT_EQ(Codes(session.Feed(kMail)), std::vector<int>{250}) << "a new transaction";
    }
}

const std::string kSmuggled = "MAIL FROM:<evil@example.net>\r\nRCPT TO:<bob@example.com>\r\n"
                              "DATA\r\nSubject: smuggled\r\n\r\n.\r\n";

const MessageCase kMessages[] = {
    {"DotsUnstuffed", "Subject: dots\r\n\r\n..leading\r\n...\r\nx.\r\n..\r\n.\r\n",
     "Subject: dots\r\n\r\n.leading\r\n..\r\nx.\r\n.\r\n"},
    {"CommandWordsAreText", "QUIT\r\nRSET\r\n.\r\n", "QUIT\r\nRSET\r\n"},
    // ".\r" is no end line: its dot is taken for a doubled one.
    {"BareCarriageReturnsStayInTheirLines", "Subject: cr\r\n\r\na\r.\r\n.\r\r\n.\r\n",
     "Subject: cr\r\n\r\na\r.\r\n\r\r\n"},
    {"ExactlyAtTheSizeLimit", "S: x\r\n\r\n" + std::string(190, 'c') + "\r\n.\r\n",
     "S: x\r\n\r\n" + std::string(190, 'c') + "\r\n"},
    {"StoreFailed", kMessage, "Subject: hi\r\n\r\nbody\r\n", 451, "",
     Verdict::Defer("store unavailable")},
    {"Malformed", kMessage, "Subject: hi\r\n\r\nbody\r\n", 554, "",
     Verdict::Refuse("malformed message")},
    {"OverTheSizeLimit", "Subject: big\r\n\r\n" + std::string(200, 'a') + "\r\n.\r\n", std::nullopt,
     552, "larger than the limit of 200"},
    // Megabytes without a line end: the session keeps reading but does not hold them.
    {"ALineThatNeverEnds", std::string(1000000, 'q') + "\r\n.\r\n", std::nullopt, 552, "larger"},
    {"BareLfDotBareLf", "Subject: x\r\n\r\nhello\n.\n" + kSmuggled, std::nullopt, 554, "5.5.2"},
    {"CrlfDotBareLf", "Subject: x\r\n\r\nhello\r\n.\n" + kSmuggled, std::nullopt, 554, "5.5.2"},
    {"BareLfDotCrlf", "Subject: x\r\n\r\nhello\n.\r\n" + kSmuggled, std::nullopt, 554, "5.5.2"}};

INSTANTIATE_TEST_SUITE_P(Cases, SmtpMessage, ::testing::ValuesIn(kMessages),
                         [](const auto& info) { return std::string(info.param.name); });

// An envelope as "sender > recipient (its ORCPT), ... | greeting protocol".
std::string Shown(const Envelope& envelope) {
    std::string shown = envelope.sender + " >";
    for (std::size_t i = 0; i < envelope.recipients.size(); ++i)
        shown += (i ? ", " : " ") + envelope.recipients[i] + " (" +
                 envelope.originalRecipients.at(i) + ")";
    return shown + " | " + envelope.helo + " " + envelope.protocol;
}

// Each message gets only its own envelope, with the greeting and its protocol kept for the
// trace field of every message of the session. Each recipient keeps its ORCPT (xtext decoded;
// "" when it has none), and a repeated one (in other letters) is looked up and kept as sent:
// the backend gives one mailbox one copy.
TEST(SmtpSession, EachMessageGetsItsOwnEnvelopeWithTheGreeting) {
    const std::string second =
        "MAIL FROM:<>\r\nRCPT TO:<bob@example.com> ORCPT=RFC822;l+2Bs@x.e\r\n"
        "RCPT TO:<BOB@example.com>\r\nDATA\r\n" +
        kMessage;
    const struct {
        std::string hello;
        Protocol protocol;
        std::string named;
    } cases[] = {{"EHLO client.example", Protocol::Smtp, "ESMTP"},
                 {"HELO client.example", Protocol::Smtp, "SMTP"},
                 {"LHLO client.example", Protocol::Lmtp, "LMTP"}};
    for (const auto& c : cases) {
        TestBackend backend;
        Session session("h", SmallLimits(), backend, c.protocol);
        session.Feed(c.hello + "\r\n" + kMail + kRcpt + "DATA\r\n" + kMessage + second);
        std::vector<std::string> shown;
        for (const auto& envelope : backend.shared.envelopes)
            shown.push_back(Shown(envelope));
        EXPECT_EQ(
            shown,
            (std::vector<std::string>{
                "sender@partner.example > alice@example.com () | client.example " + c.named,
                " > bob@example.com (l+s@x.e), BOB@example.com () | client.example " + c.named}));
        EXPECT_EQ(
            backend.shared.checked,
            (std::vector<std::string>{"alice@example.com", "bob@example.com", "BOB@example.com"}));
    }
}

TEST(SmtpSession, LongMessageLinesAreStoredAsSent) {
    TestBackend backend;
    Session session("h", Limits{}, backend);
    const auto message = "Subject: long\r\n\r\n" + std::string(5000, 'z') + "\r\n";
    const auto replies = session.Feed(kEhlo + kMail + kRcpt + "DATA\r\n" + message + ".\r\n");
    EXPECT_EQ(Codes(replies), (std::vector<int>{250, 250, 250, 354, 250}));
    ASSERT_EQ(backend.shared.delivered.size(), 1u);
    EXPECT_EQ(backend.shared.delivered[0], message);
}

// After the message, alice and bob each get the reply of their own verdict, in RCPT order.
TEST(LmtpDeliveryVerdicts, BecomeOneReplyPerRecipientInOrder) {
    const struct {
        const char* name;
        std::vector<Verdict> verdicts;
        std::vector<int> codes;
    } cases[] = {
        {"both stored", {Verdict::Accept(), Verdict::Accept()}, {250, 250}},
        {"second failed", {Verdict::Accept(), Verdict::Defer("4.3.0 x")}, {250, 451}},
        {"first refused", {Verdict::Refuse("5.6.0 x"), Verdict::Accept()}, {554, 250}},
        {"one verdict for all", {Verdict::Defer("4.3.0 down")}, {451, 451}},
        {"missing verdicts are transient", {}, {451, 451}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestBackend backend;
        backend.shared.eachVerdicts = c.verdicts;
        Session session("h", SmallLimits(), backend, Protocol::Lmtp);
        session.Feed(kLhlo + kMail + kRcpt + kRcptBob + "DATA\r\n");
        const auto replies = session.Feed(kMessage);
        ASSERT_EQ(Codes(replies), c.codes);
        EXPECT_EQ(replies[0].lines.at(0).rfind("<alice@example.com> ", 0), 0u)
            << replies[0].lines[0];
        EXPECT_EQ(replies[1].lines.at(0).rfind("<bob@example.com> ", 0), 0u) << replies[1].lines[0];
        ASSERT_EQ(backend.shared.delivered.size(), 1u) << "one call for all recipients";
        EXPECT_EQ(Codes(session.Feed(kMail)), std::vector<int>{250}) << "a new transaction";
    }
}

// Probing for addresses: after so many refused recipients in one session the session is closed
// with 421, so that guessing costs a new connection every few guesses.
std::string Rcpts(const std::string& prefix, int count) {
    std::string lines;
    for (int i = 0; i < count; ++i)
        lines += "RCPT TO:<" + prefix + std::to_string(i) + "@example.com>\r\n";
    return lines;
}

struct RefusedCase {
    const char* name;
    std::size_t limit;
    std::string rcpts; // after EHLO and MAIL
    std::vector<int> codes;
    bool closed;
    Protocol protocol = Protocol::Smtp;
};

class SmtpRefusedRecipients : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(SmtpRefusedRecipients, CloseTheSessionAtTheLimit) {
    const auto& c = GetParam();
    const server::log::Capture capture;
    TestBackend backend;
    Limits limits;
    if (c.limit != static_cast<std::size_t>(-1))
        limits.maxRefusedRecipients = c.limit;
    Session session("mail01.example.com", limits, backend, c.protocol, "192.0.2.7");
    const auto replies =
        session.Feed((c.protocol == Protocol::Lmtp ? kLhlo : kEhlo) + kMail + c.rcpts);
    ASSERT_GE(replies.size(), 2u);
    EXPECT_EQ(Codes({replies.begin() + 2, replies.end()}), c.codes);
    EXPECT_EQ(session.Closed(), c.closed);
    EXPECT_EQ(
        servertest::Starting(capture.Lines(), "too-many-refused session=" + session.Id()).size(),
        c.closed ? 1u : 0u);
    if (c.closed) {
        EXPECT_EQ(replies.back().Wire(), "421 4.7.0 mail01.example.com too many refused "
                                         "recipients, closing the connection\r\n");
        EXPECT_TRUE(session.Feed("NOOP\r\n").empty()) << "nothing after the 421";
    }
}

const std::string kOk = "RCPT TO:<alice@example.com>\r\n";
const std::string kAgain = "RSET\r\n" + kMail;

const RefusedCase kRefused[] = {
    {"OneBelowTheLimitGoesOn", 3, Rcpts("no", 2) + kOk, {550, 550, 250}, false},
    {"TheLimitCloses", 3, Rcpts("no", 3) + kOk, {550, 550, 421}, true},
    // An address the prober knows in between would otherwise reset its count.
    {"AnAcceptedRecipientDoesNotReset",
     3,
     Rcpts("no", 1) + kOk + Rcpts("no", 1) + kOk + Rcpts("no", 1),
     {550, 250, 550, 250, 421},
     true},
    {"ANewTransactionDoesNotReset",
     3,
     Rcpts("no", 2) + kAgain + Rcpts("no", 1),
     {550, 550, 250, 250, 421},
     true},
    // Failures of the directory are not the client's doing.
    {"TransientFailuresDoNotCount",
     2,
     Rcpts("down", 3) + Rcpts("no", 1) + kOk,
     {451, 451, 451, 550, 250},
     false},
    {"ZeroMeansNoLimit", 0, Rcpts("no", 30), std::vector<int>(30, 550), false},
    {"TheDefaultIsTwenty", static_cast<std::size_t>(-1), Rcpts("no", 20),
     [] {
         std::vector<int> codes(19, 550);
         codes.push_back(421);
         return codes;
     }(),
     true},
    {"LmtpToo", 2, Rcpts("no", 2), {550, 421}, true, Protocol::Lmtp}};

INSTANTIATE_TEST_SUITE_P(Cases, SmtpRefusedRecipients, ::testing::ValuesIn(kRefused),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SmtpReplyWire, MultilineRepliesUseTheDashUntilTheLastLine) {
    EXPECT_EQ((Reply{250, {"a", "b", "c"}}.Wire()), "250-a\r\n250-b\r\n250 c\r\n");
    EXPECT_EQ((Reply{221, {"bye"}}.Wire()), "221 bye\r\n");
    EXPECT_EQ((Reply{501, {"a\rb\nc"}}.Wire()), "501 a?b?c\r\n");
}

} // namespace

TEST(SmtpSession, StartTlsDropsWhatCameWithItAndTheSessionStartsOverEncrypted) {
    const std::string mail = "MAIL FROM:<bob@example.net>\r\n";
    struct Case {
        const char* name;
        std::string input;
        std::vector<int> codes;
        bool starting = true;
    };
    for (const auto& [name, input, codes, starting] : std::vector<Case>{
             {"answered", kEhlo + "STARTTLS\r\n", {250, 220}},
             {"before the greeting", "STARTTLS\r\n", {220}},
             {"a command pipelined behind it is dropped",
              kEhlo + "STARTTLS\r\n" + mail + kRcpt,
              {250, 220}},
             {"not in a transaction", kEhlo + mail + "STARTTLS\r\n", {250, 250, 503}, false},
             {"no arguments", kEhlo + "STARTTLS now\r\n", {250, 501}, false}}) {
        SCOPED_TRACE(name);
        TestBackend backend;
        Session session("mail01.example.com", SmallLimits(), backend);
        session.OfferTls();
        EXPECT_EQ(Codes(session.Feed(input)), codes);
        EXPECT_EQ(session.StartingTls(), starting);
        if (!starting)
            continue;
        // Sent in clear before the handshake: ignored.
        EXPECT_TRUE(session.Feed(mail).empty());
        session.TlsStarted();
        EXPECT_TRUE(session.Encrypted());
        // The client greets again; STARTTLS is no longer offered, nor taken.
        EXPECT_EQ(Codes(session.Feed(mail)), std::vector<int>{503});
        const auto ehlo = session.Feed(kEhlo);
        ASSERT_EQ(Codes(ehlo), std::vector<int>{250});
        EXPECT_EQ(std::count(ehlo[0].lines.begin(), ehlo[0].lines.end(), "STARTTLS"), 0);
        EXPECT_EQ(Codes(session.Feed("STARTTLS\r\n" + mail + kRcpt + "DATA\r\n" + kMessage)),
                  (std::vector<int>{503, 250, 250, 354, 250}));
        ASSERT_EQ(backend.shared.envelopes.size(), 1u);
        EXPECT_EQ(backend.shared.envelopes[0].protocol, "ESMTPS");
    }
}
