// Message submission on the session: AUTH PLAIN and LOGIN, where they are offered, and what MAIL
// needs of the login.

#include "SmtpTestBackend.h"

#include "server/smtp/SmtpSession.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace smtptest;

namespace {

const std::string kPlain = "AUTH PLAIN AGFsaWNlAHNlY3JldA==\r\n"; // "", alice, secret
const std::string kAliceMail = "MAIL FROM:<alice@example.com>\r\n";
const char* const kLocal = "local";
const char* const kRemote = "192.0.2.7";

const std::vector<SequenceCase> kExchanges = {
    {"PlainInlineThenMail",
     kEhlo + kPlain + kAliceMail + "RCPT TO:<bob@partner.example>\r\nDATA\r\n" +
         "Subject: hi\r\n\r\nbody\r\n.\r\n",
     {250, 235, 250, 250, 354, 250}},
    {"PlainAfterChallenge",
     kEhlo + "AUTH plain\r\nAGFsaWNlAHNlY3JldA==\r\n" + kAliceMail,
     {250, 334, 235, 250}},
    {"Login",
     kEhlo + "AUTH LOGIN\r\nYWxpY2U=\r\nc2VjcmV0\r\n" + kAliceMail,
     {250, 334, 334, 235, 250}},
    {"LoginWithTheUserInline", kEhlo + "AUTH LOGIN YWxpY2U=\r\nc2VjcmV0\r\n", {250, 334, 235}},
    {"CancelledPlain", kEhlo + "AUTH PLAIN\r\n*\r\n" + kAliceMail, {250, 334, 501, 530}},
    {"CancelledLogin", kEhlo + "AUTH LOGIN\r\nYWxpY2U=\r\n*\r\n", {250, 334, 334, 501}},
    {"BadBase64", kEhlo + "AUTH PLAIN AGFsaWNl!HNlY3JldA==\r\n", {250, 501}},
    {"PlainNotThreeParts", kEhlo + "AUTH PLAIN YWxpY2U=\r\n", {250, 501}},
    {"WrongPassword",
     kEhlo + "AUTH PLAIN AGFsaWNlAHdyb25n\r\n" + kAliceMail + kPlain,
     {250, 535, 530, 235}},
    {"EmptyPasswordUnchecked", kEhlo + "AUTH LOGIN\r\nYWxpY2U=\r\n=\r\n", {250, 334, 334, 535}},
    {"AsAnotherUser", kEhlo + "AUTH PLAIN Ym9iAGFsaWNlAHNlY3JldA==\r\n", {250, 535}},
    {"DirectoryDown", kEhlo + "AUTH PLAIN AGRvd24AeA==\r\n", {250, 454}},
    {"UnknownMechanism", kEhlo + "AUTH CRAM-MD5\r\n", {250, 504}},
    {"AuthTwice", kEhlo + kPlain + kPlain, {250, 235, 503}},
    {"AuthBeforeEhlo", kPlain + "HELO client.example\r\n" + kPlain, {503, 250, 503}},
    {"ResponseTooLong",
     kEhlo + "AUTH PLAIN\r\n" + std::string(600, 'A') + "\r\n" + kPlain,
     {250, 334, 500, 235}},
    {"AuthInATransaction", kEhlo + kPlain + kAliceMail + kPlain, {250, 235, 250, 503}},
    {"MailBeforeAuth", kEhlo + kAliceMail, {250, 530}},
    {"ForeignSender",
     kEhlo + kPlain + "MAIL FROM:<bob@example.com>\r\n" + kAliceMail,
     {250, 235, 553, 250}},
    {"NullSender", kEhlo + kPlain + "MAIL FROM:<>\r\n", {250, 235, 553}},
    {"InClearFromANonLocalClient",
     kEhlo + kPlain + "AUTH LOGIN\r\n" + kAliceMail,
     {250, 538, 538, 530},
     Protocol::Smtp,
     kRemote}};

// Each a submission session on this machine, unless it names another client.
std::vector<SequenceCase> Submissions(std::vector<SequenceCase> cases) {
    for (auto& c : cases)
        c.client = c.client ? c.client : kLocal;
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Submission, SmtpSequence, ::testing::ValuesIn(Submissions(kExchanges)),
                         [](const auto& info) { return std::string(info.param.name); });

bool OffersAuth(const Reply& ehlo) {
    return std::find(ehlo.lines.begin(), ehlo.lines.end(), "AUTH PLAIN LOGIN") != ehlo.lines.end();
}

// AUTH is in EHLO where it is taken: from a local client at once, from any other after TLS.
TEST(SubmissionOffer, AuthIsOfferedWherePasswordsCrossNoNetworkInClear) {
    struct Row {
        std::string client;
        bool afterTls, offered;
    };
    for (const auto& row :
         {Row{kLocal, false, true}, Row{kRemote, false, false}, Row{kRemote, true, true}}) {
        TestBackend backend;
        Session session("mail01.example.com", {}, backend, Protocol::Smtp, row.client);
        session.OfferTls();
        session.RequireLogin(row.client != kRemote);
        if (row.afterTls) {
            ASSERT_EQ(Codes(session.Feed("STARTTLS\r\n")), std::vector<int>{220});
            session.TlsStarted();
        }
        const auto replies = session.Feed(kEhlo + kPlain);
        ASSERT_EQ(replies.size(), 2u);
        EXPECT_EQ(OffersAuth(replies[0]), row.offered) << row.client << " " << row.afterTls;
        EXPECT_EQ(replies[1].code, row.offered ? 235 : 538) << row.client;
    }
}

// The login reaches the backend whole, with the session for its throttle; the message's trace
// says it was submitted after a login, and a plain SMTP session knows no AUTH.
TEST(SubmissionOffer, TheLoginIsCheckedAndTraced) {
    TestBackend backend;
    Session session("mail01.example.com", {}, backend, Protocol::Smtp, "local");
    session.RequireLogin(true);
    session.Feed(kEhlo + "AUTH LOGIN\r\nYWxpY2U=\r\nc2VjcmV0\r\n" + kAliceMail +
                 "RCPT TO:<bob@partner.example>\r\nDATA\r\nSubject: hi\r\n\r\nx\r\n.\r\n");
    ASSERT_EQ(backend.shared.logins.size(), 1u);
    const auto& login = backend.shared.logins[0];
    EXPECT_EQ(login.user + "/" + login.password + "/" + login.client, "alice/secret/local");
    EXPECT_EQ(login.session, session.Id());
    EXPECT_EQ(session.User(), "alice");
    ASSERT_EQ(backend.shared.envelopes.size(), 1u);
    EXPECT_EQ(backend.shared.envelopes[0].protocol, "ESMTPA");

    TestBackend plainBackend;
    Session smtp("mail01.example.com", {}, plainBackend);
    const auto replies = smtp.Feed(kEhlo + kPlain + kAliceMail);
    EXPECT_FALSE(OffersAuth(replies.at(0)));
    EXPECT_EQ(Codes(replies), (std::vector<int>{250, 502, 250}));
}

} // namespace
