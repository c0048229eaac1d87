// The IMAP protocol without sockets, by command: bytes in, responses out, against a backend
// double. How envelopes, body structures and sections are made is ImapMessageTest's.

#include "ImapTestBackend.h"

#include "server/imap/ImapSession.h"
#include "server/imap/ImapWire.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace imaptest;

namespace {

struct Exchange {
    std::string send;
    std::string expect; // exactly; or, starting with "~", text the output must contain
};

struct Script {
    const char* name;
    std::vector<Exchange> steps;
};

// Each script on a session of its own, taken to `start`, with a backend of its own.
void RunScripts(Start start, const std::vector<Script>& scripts, SessionSettings settings = {}) {
    for (const auto& script : scripts) {
        SCOPED_TRACE(script.name);
        TestBackend backend;
        Session session(backend, settings);
        ASSERT_TRUE(Begin(session, start));
        for (const auto& step : script.steps) {
            const auto got = session.Receive(step.send).bytes;
            if (step.expect.starts_with("~"))
                EXPECT_NE(got.find(step.expect.substr(1)), std::string::npos)
                    << step.send << "\n got: " << got;
            else
                EXPECT_EQ(got, step.expect) << step.send;
        }
    }
}

// A session in the Inbox, for the tests that look at or change its backend between commands.
class ImapSelectedSessionTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Begin(session, Selected)); }

    TestBackend backend;
    Session session{backend, SessionSettings{}};
};

TEST(ImapSessionTest, NotAuthenticatedStateAllowsOnlyLoginAndTheAlwaysCommands) {
    RunScripts(
        Fresh,
        {{"capability",
          {{"a CAPABILITY\r\n",
            "* CAPABILITY IMAP4rev1 LITERAL+ SASL-IR AUTH=PLAIN IDLE UIDPLUS MOVE MULTIAPPEND "
            "LIST-EXTENDED SPECIAL-USE UNSELECT NAMESPACE ID ENABLE CONDSTORE QRESYNC\r\na OK "
            "CAPABILITY completed\r\n"}}},
         {"noop", {{"a NOOP\r\n", "a OK NOOP completed\r\n"}}},
         {"starttls refused", {{"a STARTTLS\r\n", "~a BAD STARTTLS is not offered here"}}},
         {"login", {{"a LOGIN alice secret\r\n", "~a OK [CAPABILITY "}}},
         {"login by address as literal",
          {{"a LOGIN {17}\r\n", "+ Ready for the literal\r\n"},
           {"alice@example.com \"secret\"\r\n", "~a OK [CAPABILITY"}}},
         {"wrong password",
          {{"a LOGIN alice wrong\r\n",
            "a NO [AUTHENTICATIONFAILED] Wrong user name or password\r\n"}}},
         {"login needs two", {{"a LOGIN alice\r\n", "~a BAD LOGIN needs"}}},
         {"plain with initial response",
          {{"a AUTHENTICATE PLAIN AGFsaWNlAHNlY3JldA==\r\n", "~a OK [CAPABILITY"}}},
         {"plain cancelled",
          {{"a AUTHENTICATE PLAIN\r\n", "+ \r\n"},
           {"*\r\n", "a BAD AUTHENTICATE cancelled\r\n"},
           {"b NOOP\r\n", "b OK NOOP completed\r\n"}}},
         {"plain not base64",
          {{"a AUTHENTICATE PLAIN !!!!\r\n", "a BAD The response is not base64\r\n"}}},
         {"plain as someone else",
          {{"a AUTHENTICATE PLAIN Ym9iAGFsaWNlAHNlY3JldA==\r\n", "~a NO [AUTHORIZATIONFAILED]"}}},
         {"other mechanism", {{"a AUTHENTICATE LOGIN\r\n", "~a NO Only the PLAIN"}}},
         {"logout",
          {{"a LOGOUT\r\n", "* BYE localhost logging out\r\na OK LOGOUT completed\r\n"},
           {"b NOOP\r\n", ""}}},
         {"syntax error keeps the session",
          {{"a LOGIN \"x\r\n", "~a BAD Syntax error"},
           {"b NOOP\r\n", "b OK NOOP completed\r\n"}}}});
}

// That what follows STARTTLS in clear is dropped is tls_front_test.py's, with a real TLS client.
TEST(ImapSessionTest, TlsDecidesWhatIsOfferedAndWhereAPasswordMaySeeTheNetwork) {
    const auto withTls = [](bool local, bool encrypted) {
        SessionSettings settings;
        settings.tlsOffered = !encrypted;
        settings.encrypted = encrypted;
        settings.loginInClear = local;
        return settings;
    };
    const std::string refused = "a NO [PRIVACYREQUIRED] Log in after STARTTLS\r\n";
    const std::string after = " IDLE UIDPLUS MOVE MULTIAPPEND LIST-EXTENDED SPECIAL-USE UNSELECT "
                              "NAMESPACE ID ENABLE CONDSTORE QRESYNC\r\na OK CAPABILITY "
                              "completed\r\n";
    struct Case {
        const char* name;
        SessionSettings settings;
        std::vector<Script> scripts;
    };
    for (const auto& [name, settings, scripts] : std::vector<Case>{
             {"from afar, in clear",
              withTls(false, false),
              {{"capability",
                {{"a CAPABILITY\r\n",
                  "* CAPABILITY IMAP4rev1 LITERAL+ SASL-IR LOGINDISABLED STARTTLS" + after}}},
               {"login", {{"a LOGIN alice secret\r\n", refused}}},
               {"authenticate", {{"a AUTHENTICATE PLAIN AGFsaWNlAHNlY3JldA==\r\n", refused}}},
               {"starttls", {{"a STARTTLS\r\n", "a OK Begin TLS negotiation now\r\n"}}},
               {"starttls with arguments",
                {{"a STARTTLS now\r\n", "a BAD STARTTLS takes no arguments\r\n"}}}}},
             {"on this machine, in clear",
              withTls(true, false),
              {{"capability",
                {{"a CAPABILITY\r\n",
                  "* CAPABILITY IMAP4rev1 LITERAL+ SASL-IR AUTH=PLAIN STARTTLS" + after}}},
               {"starttls after login",
                {{"a LOGIN alice secret\r\n", "~a OK"},
                 {"b STARTTLS\r\n", "b BAD STARTTLS comes before the login\r\n"}}}}},
             {"from afar, implicit TLS",
              withTls(false, true),
              {{"capability",
                {{"a CAPABILITY\r\n",
                  "* CAPABILITY IMAP4rev1 LITERAL+ SASL-IR AUTH=PLAIN" + after}}},
               {"starttls", {{"a STARTTLS\r\n", "a BAD TLS is already active\r\n"}}},
               {"login", {{"a LOGIN alice secret\r\n", "~a OK [CAPABILITY"}}}}}}) {
        SCOPED_TRACE(name);
        RunScripts(Fresh, scripts, settings);
    }
}

TEST(ImapSessionTest, FailedLoginsAreDelayedAndEndTheSessionAfterAFew) {
    TestBackend backend;
    SessionSettings settings;
    settings.maxFailedLogins = 3;
    settings.failedLoginDelay = std::chrono::milliseconds(1500);
    Session session(backend, settings);
    for (int i = 1; i <= 3; ++i) {
        const auto output = session.Receive("a LOGIN alice nope\r\n");
        EXPECT_EQ(output.delay, std::chrono::milliseconds(1500));
        EXPECT_EQ(output.close, i == 3);
    }
    EXPECT_TRUE(session.Closed());
    EXPECT_EQ(session.Receive("b LOGIN alice secret\r\n").bytes, "");
    EXPECT_EQ(backend.shared.logins, 3);

    // A successful login starts the count again.
    Session again(backend, settings);
    again.Receive("a LOGIN alice nope\r\nb LOGIN alice nope\r\n");
    const auto ok = again.Receive("c LOGIN alice secret\r\n");
    EXPECT_EQ(ok.delay, std::chrono::milliseconds(0));
    EXPECT_FALSE(ok.close);
}

TEST(ImapSessionTest, FoldersAreListedSelectedAndCounted) {
    RunScripts(
        LoggedIn,
        {{"list all",
          {{"a LIST \"\" *\r\n", "* LIST (\\HasChildren) \"/\" \"INBOX\"\r\n"
                                 "* LIST (\\HasNoChildren) \"/\" \"INBOX/Lists\"\r\n"
                                 "* LIST (\\HasNoChildren \\Sent) \"/\" \"Sent Items\"\r\n"
                                 "a OK LIST completed\r\n"}}},
         {"percent stops at the delimiter",
          {{"a LIST \"\" %\r\n", "* LIST (\\HasChildren) \"/\" \"INBOX\"\r\n"
                                 "* LIST (\\HasNoChildren \\Sent) \"/\" \"Sent Items\"\r\n"
                                 "a OK LIST completed\r\n"}}},
         {"reference and inbox in any case",
          {{"a LIST inbox/ %\r\n", "* LIST (\\HasNoChildren) \"/\" \"INBOX/Lists\"\r\n"
                                   "a OK LIST completed\r\n"}}},
         {"many wildcards that cannot match end at once",
          {{"a LIST \"\" \"" + std::string(60, '*') + std::string(60, '%') + "x\"\r\n",
            "a OK LIST completed\r\n"}}},
         {"delimiter query",
          {{"a LIST \"\" \"\"\r\n", "* LIST (\\Noselect) \"/\" \"\"\r\na OK LIST completed\r\n"}}},
         {"status",
          {{"a STATUS inbox (MESSAGES UIDNEXT UIDVALIDITY UNSEEN RECENT)\r\n",
            "* STATUS \"INBOX\" (MESSAGES 3 UIDNEXT 10 UIDVALIDITY 77 UNSEEN 2 RECENT 0)\r\n"
            "a OK STATUS completed\r\n"}}},
         {"status of nothing",
          {{"a STATUS Nowhere (MESSAGES)\r\n", "a NO [NONEXISTENT] No such folder\r\n"}}},
         {"names other than inbox in another letter case name nothing",
          {{"a STATUS \"sent items\" (MESSAGES)\r\n", "a NO [NONEXISTENT] No such folder\r\n"},
           {"b SELECT inbox/lists\r\n", "b NO [NONEXISTENT] No such folder\r\n"},
           {"c STATUS Inbox/Lists (MESSAGES)\r\n", "~(MESSAGES 0)"}}},
         {"select",
          {{"a SELECT inbox\r\n",
            "* FLAGS (\\Answered \\Flagged \\Deleted \\Seen \\Draft alice@example.com "
            "sales@example.com Work&20list)\r\n"
            "* OK [PERMANENTFLAGS (\\Answered \\Flagged \\Deleted \\Seen \\Draft "
            "alice@example.com "
            "sales@example.com Work&20list \\*)] Flags and keywords are kept\r\n"
            "* 3 EXISTS\r\n* 0 RECENT\r\n* OK [UNSEEN 2] First unseen\r\n"
            "* OK [UIDVALIDITY 77] UIDs valid\r\n* OK [UIDNEXT 10] Predicted next UID\r\n"
            "* OK [HIGHESTMODSEQ 4] Highest mod-sequence\r\n"
            "a OK [READ-WRITE] SELECT completed\r\n"}}},
         {"examine", {{"a EXAMINE INBOX\r\n", "~a OK [READ-ONLY] EXAMINE"}}}});
    RunScripts(Selected,
               {{"select nothing",
                 {{"a SELECT Nowhere\r\n", "a NO [NONEXISTENT] No such folder\r\n"},
                  {"b FETCH 1 UID\r\n", "b BAD FETCH needs a selected folder\r\n"}}},
                {"unselect keeps deleted",
                 {{"a UNSELECT\r\n", "a OK UNSELECT completed\r\n"},
                  {"b STATUS INBOX (MESSAGES)\r\n", "~(MESSAGES 3)"}}},
                {"close expunges",
                 {{"a CLOSE\r\n", "a OK CLOSE completed\r\n"},
                  {"b STATUS INBOX (MESSAGES)\r\n", "~(MESSAGES 2)"},
                  {"c CHECK\r\n", "c BAD CHECK needs a selected folder\r\n"}}},
                {"namespace",
                 {{"a NAMESPACE\r\n",
                   "* NAMESPACE ((\"\" \"/\")) NIL NIL\r\na OK NAMESPACE completed\r\n"}}}});
}

TEST(ImapSessionTest, FoldersAreMadeDeletedRenamedAndSubscribedTo) {
    const std::string listWork = "w LIST \"\" Work*\r\n";
    RunScripts(
        LoggedIn,
        {{"create with parents and a trailing delimiter",
          {{"a CREATE Work/Projects/\r\n", "a OK CREATE completed\r\n"},
           {listWork, "* LIST (\\HasChildren) \"/\" \"Work\"\r\n"
                      "* LIST (\\HasNoChildren) \"/\" \"Work/Projects\"\r\n"
                      "w OK LIST completed\r\n"}}},
         {"create what exists",
          {{"a CREATE \"Sent Items\"\r\n", "a NO [ALREADYEXISTS] A folder of that name exists\r\n"},
           {"b CREATE inbox\r\n", "b NO [ALREADYEXISTS] A folder of that name exists\r\n"}}},
         {"names no folder may have",
          {{"a CREATE a//b\r\n", "a NO [CANNOT] That cannot be the name of a folder\r\n"},
           {"b CREATE /a\r\n", "b NO [CANNOT] That cannot be the name of a folder\r\n"},
           {"c CREATE &Jjo\r\n", "c NO [CANNOT] That cannot be the name of a folder\r\n"},
           {"d CREATE &AGE-\r\n", "d NO [CANNOT] That cannot be the name of a folder\r\n"},
           {"e CREATE\r\n", "e BAD CREATE needs a folder name\r\n"}}},
         {"a non-ASCII name comes back as it was written",
          {{"a CREATE Entw&APw-rfe\r\n", "a OK CREATE completed\r\n"},
           {"b LIST \"\" Entw*\r\n",
            "* LIST (\\HasNoChildren) \"/\" \"Entw&APw-rfe\"\r\nb OK LIST completed\r\n"}}},
         {"delete",
          {{"a DELETE \"Sent Items\"\r\n", "a OK DELETE completed\r\n"},
           {"b DELETE \"Sent Items\"\r\n", "b NO [NONEXISTENT] No such folder\r\n"},
           {"c DELETE inbox\r\n", "c NO [CANNOT] The Inbox cannot be deleted\r\n"},
           {"d CREATE a/b\r\n", "d OK CREATE completed\r\n"},
           {"e DELETE a\r\n", "e NO [CANNOT] The folder has subfolders: delete them first\r\n"},
           {"f DELETE a/b\r\n", "f OK DELETE completed\r\n"},
           {"g DELETE a\r\n", "g OK DELETE completed\r\n"}}},
         {"rename into a new parent",
          {{"a RENAME \"Sent Items\" Work/Sent\r\n", "a OK RENAME completed\r\n"},
           {listWork, "* LIST (\\HasChildren) \"/\" \"Work\"\r\n"
                      "* LIST (\\HasNoChildren) \"/\" \"Work/Sent\"\r\n"
                      "w OK LIST completed\r\n"},
           {"b STATUS \"Sent Items\" (MESSAGES)\r\n", "b NO [NONEXISTENT] No such folder\r\n"}}},
         {"rename refusals",
          {{"a RENAME Nowhere x\r\n", "a NO [NONEXISTENT] No such folder\r\n"},
           {"b RENAME INBOX/Lists \"Sent Items\"\r\n",
            "b NO [ALREADYEXISTS] A folder of that name exists\r\n"},
           {"c RENAME INBOX/Lists INBOX/Lists/x\r\n",
            "c NO [CANNOT] That cannot be the name of a folder\r\n"},
           {"d RENAME INBOX/Lists inbox\r\n",
            "d NO [ALREADYEXISTS] A folder of that name exists\r\n"},
           {"e RENAME x\r\n", "e BAD RENAME needs the folder and its new name\r\n"}}},
         {"rename of the Inbox moves its messages",
          {{"a RENAME INBOX Old\r\n", "a OK RENAME completed\r\n"},
           {"b STATUS Old (MESSAGES)\r\n",
            "* STATUS \"Old\" (MESSAGES 3)\r\nb OK STATUS completed\r\n"},
           {"c STATUS INBOX (MESSAGES)\r\n",
            "* STATUS \"INBOX\" (MESSAGES 0)\r\nc OK STATUS completed\r\n"}}},
         {"subscriptions are the user's and need no folder",
          {{"a LSUB \"\" *\r\n",
            "* LSUB (\\HasChildren) \"/\" \"INBOX\"\r\na OK LSUB completed\r\n"},
           {"b SUBSCRIBE \"Sent Items\"\r\n", "b OK SUBSCRIBE completed\r\n"},
           {"c UNSUBSCRIBE inbox\r\n", "c OK UNSUBSCRIBE completed\r\n"},
           {"d SUBSCRIBE Gone\r\n", "d OK SUBSCRIBE completed\r\n"},
           {"e LSUB \"\" *\r\n", "* LSUB (\\HasNoChildren \\Sent) \"/\" \"Sent Items\"\r\n"
                                 "* LSUB (\\Noselect) \"/\" \"Gone\"\r\ne OK LSUB completed\r\n"},
           {"f LIST (SUBSCRIBED) \"\" *\r\n",
            "* LIST (\\HasNoChildren \\Sent \\Subscribed) \"/\" \"Sent Items\"\r\n"
            "* LIST (\\NonExistent \\Subscribed) \"/\" \"Gone\"\r\nf OK LIST completed\r\n"},
           {"g RENAME \"Sent Items\" Sent\r\n", "g OK RENAME completed\r\n"},
           {"h LSUB \"\" S*\r\n",
            "* LSUB (\\HasNoChildren) \"/\" \"Sent\"\r\nh OK LSUB completed\r\n"}}},
         {"list's selection and return options and several patterns",
          {{"a LIST (SPECIAL-USE) \"\" *\r\n",
            "* LIST (\\HasNoChildren \\Sent) \"/\" \"Sent Items\"\r\na OK LIST completed\r\n"},
           {"b LIST \"\" (INBOX \"Sent*\") RETURN (SUBSCRIBED SPECIAL-USE CHILDREN)\r\n",
            "* LIST (\\HasChildren \\Subscribed) \"/\" \"INBOX\"\r\n"
            "* LIST (\\HasNoChildren \\Sent) \"/\" \"Sent Items\"\r\nb OK LIST completed\r\n"},
           {"c LIST (FANCY) \"\" *\r\n", "c BAD Unknown LIST selection option FANCY\r\n"},
           {"d LIST \"\" * RETURN (STATUS)\r\n", "d BAD Unknown LIST return option STATUS\r\n"},
           {"e LSUB (SUBSCRIBED) \"\" *\r\n", "e BAD LSUB needs a reference and a pattern\r\n"}}}});
    RunScripts(Selected,
               {{"the selected folder renamed goes on under its new name",
                 {{"a RENAME INBOX/Lists Lists\r\n", "a OK RENAME completed\r\n"},
                  {"b FETCH 1 UID\r\n", "* 1 FETCH (UID 3)\r\nb OK FETCH completed\r\n"}}},
                {"the selected folder deleted is left",
                 {{"a SELECT INBOX/Lists\r\n", "~a OK [READ-WRITE]"},
                  {"b DELETE INBOX/Lists\r\n", "b OK DELETE completed\r\n"},
                  {"c FETCH 1 UID\r\n", "c BAD FETCH needs a selected folder\r\n"}}}});
}

TEST(ImapSessionTest, AppendCopyAndMoveSaveMessagesAndTellTheirUids) {
    const std::string message = "Subject: new\r\n\r\nhello\r\n";
    const auto literal = "{" + std::to_string(message.size()) + "+}\r\n" + message;
    RunScripts(
        Selected,
        {{"append to the open folder, with flags and a date",
          {{"a APPEND INBOX (\\Seen $Forwarded \\Recent) \"07-Dec-2026 10:00:00 +0200\" " +
                literal + "\r\n",
            "* 4 EXISTS\r\n* 1 RECENT\r\na OK [APPENDUID 77 10] APPEND completed\r\n"},
           {"b FETCH 4 (FLAGS INTERNALDATE RFC822.SIZE)\r\n",
            "* 4 FETCH (FLAGS (\\Seen $Forwarded) INTERNALDATE \"07-Dec-2026 08:00:00 +0000\" "
            "RFC822.SIZE " +
                std::to_string(message.size()) + ")\r\nb OK FETCH completed\r\n"},
           {"c FETCH 4 BODY[TEXT]\r\n", "* 4 FETCH (BODY[TEXT] {7}\r\nhello\r\n)\r\n"
                                        "c OK FETCH completed\r\n"}}},
         {"a synchronising literal is asked for",
          {{"a APPEND \"Sent Items\" {" + std::to_string(message.size()) + "}\r\n",
            "+ Ready for the literal\r\n"},
           {message + "\r\n", "a OK [APPENDUID 79 1] APPEND completed\r\n"}}},
         {"several messages in one command",
          {{"a APPEND \"Sent Items\" " + literal + " (\\Draft) " + literal + "\r\n",
            "a OK [APPENDUID 79 1:2] APPEND completed\r\n"}}},
         {"append refusals",
          {{"a APPEND Nowhere " + literal + "\r\n", "a NO [TRYCREATE] No such folder\r\n"},
           {"b APPEND INBOX \"7-Dec-2026\" " + literal + "\r\n",
            "b BAD Not a date-time: 7-Dec-2026\r\n"},
           {"c APPEND INBOX \"31-Feb-2026 10:00:00 +0000\" " + literal + "\r\n",
            "c BAD Not a date-time: 31-Feb-2026 10:00:00 +0000\r\n"},
           {"d APPEND INBOX \"a message\"\r\n", "d BAD APPEND needs the message as a literal\r\n"},
           {"e APPEND INBOX (\\Bogus) " + literal + "\r\n",
            "e BAD Unknown system flag \\Bogus\r\n"},
           {"f APPEND INBOX\r\n", "f BAD APPEND needs a message\r\n"}}},
         {"copy keeps the messages here",
          {{"a COPY 1:2 \"Sent Items\"\r\n", "a OK [COPYUID 79 3,5 1:2] COPY completed\r\n"},
           {"b STATUS \"Sent Items\" (MESSAGES UIDNEXT)\r\n",
            "* STATUS \"Sent Items\" (MESSAGES 2 UIDNEXT 3)\r\nb OK STATUS completed\r\n"},
           {"c NOOP\r\n", "c OK NOOP completed\r\n"}}},
         {"copy into the open folder",
          {{"a UID COPY 9 INBOX\r\n",
            "* 4 EXISTS\r\n* 1 RECENT\r\na OK [COPYUID 77 9 10] UID COPY completed\r\n"}}},
         {"copy refusals",
          {{"a COPY 1 Nowhere\r\n", "a NO [TRYCREATE] No such folder\r\n"},
           {"b COPY x INBOX\r\n", "b BAD Not a sequence set: x\r\n"},
           {"c COPY 1\r\n", "c BAD COPY needs a sequence set and a folder\r\n"},
           {"d UID COPY 99 INBOX\r\n", "d OK UID COPY completed\r\n"}}},
         {"move expunges here, from the last",
          {{"a UID MOVE 3:9 \"Sent Items\"\r\n",
            "* OK [COPYUID 79 3,5,9 1:3] Moved\r\n* 3 EXPUNGE\r\n* 2 EXPUNGE\r\n* 1 EXPUNGE\r\n"
            "a OK UID MOVE completed\r\n"},
           {"b STATUS \"Sent Items\" (MESSAGES)\r\n", "~(MESSAGES 3)"},
           {"c FETCH 1:* UID\r\n", "c OK FETCH completed\r\n"}}},
         {"move by number",
          {{"a MOVE 2 INBOX/Lists\r\n",
            "* OK [COPYUID 78 5 1] Moved\r\n* 2 EXPUNGE\r\na OK MOVE completed\r\n"},
           {"b FETCH 1:* UID\r\n",
            "* 1 FETCH (UID 3)\r\n* 2 FETCH (UID 9)\r\nb OK FETCH completed\r\n"}}},
         {"move out of a read-only folder",
          {{"a EXAMINE INBOX\r\n", "~a OK [READ-ONLY]"},
           {"b MOVE 1 INBOX/Lists\r\n", "b NO The folder is open read-only (EXAMINE)\r\n"},
           {"c COPY 1 INBOX/Lists\r\n", "~c OK [COPYUID 78 3 1]"}}}});
    RunScripts(LoggedIn, {{"copy needs a selected folder",
                           {{"a COPY 1 INBOX\r\n", "a BAD COPY needs a selected folder\r\n"},
                            {"b MOVE 1 INBOX\r\n", "b BAD MOVE needs a selected folder\r\n"}}}});
}

// The keywords named by SELECT between "(\Draft" and ")" (or " \*)").
std::vector<std::string> ListedKeywords(const std::string& reply, const std::string& start) {
    const auto from = reply.find(start);
    std::istringstream words(
        reply.substr(from + start.size(), reply.find(')', from) - from - start.size()));
    std::vector<std::string> keywords;
    for (std::string word; words >> word;)
        if (word != "\\*")
            keywords.push_back(word);
    return keywords;
}

// The network thread answers what needs no backend itself; everything else is a step, which
// Receive then runs with no more bytes. `atOnce` is the answer expected at once, or "step".
TEST(ImapSessionTest, OnlyWhatNeedsNoBackendIsAnsweredAtOnce) {
    struct Piece {
        std::string send;
        std::string atOnce;
        std::string stepAnswer = {}; // what the step then answers (begins with it)
    };
    const std::vector<std::pair<const char*, std::vector<Piece>>> rows = {
        {"a literal is asked for, then comes in pieces",
         {{"a APPEND INBOX {24}\r\n", "+ Ready for the literal\r\n"},
          {"Subject: new\r\n\r\nh", ""},
          {"ello\r\n", ""},
          {"\r\n", "step", "* 4 EXISTS\r\n* 1 RECENT\r\na OK [APPENDUID 77 10]"}}},
        {"a line in pieces", {{"b NO", ""}, {"OP\r\n", "step", "b OK NOOP completed\r\n"}}},
        {"a literal over the limit",
         {{"c APPEND INBOX {99999999999}\r\n", "step", "c BAD [TOOBIG]"}}},
        {"the end of an IDLE reads the folder",
         {{"d IDLE\r\n", "step", "+ idling"},
          {"DO", "step", ""},
          {"NE\r\n", "step", "d OK IDLE terminated"}}},
        {"a literal after commands received with it",
         {{"e NOOP\r\nf APPEND INBOX {24}\r\n", "step", "e OK NOOP completed\r\n+ Ready"}}},
    };
    for (const auto& [name, pieces] : rows) {
        SCOPED_TRACE(name);
        TestBackend backend;
        Session session(backend, SessionSettings{});
        ASSERT_TRUE(Begin(session, Selected));
        for (const auto& piece : pieces) {
            auto answer = session.ReceiveAtOnce(piece.send);
            if (piece.atOnce == "step") {
                ASSERT_FALSE(answer) << piece.send << " was answered with " << answer->bytes;
                EXPECT_TRUE(session.Receive({}).bytes.starts_with(piece.stepAnswer)) << piece.send;
            } else {
                ASSERT_TRUE(answer) << piece.send;
                EXPECT_EQ(answer->bytes, piece.atOnce);
                EXPECT_FALSE(answer->pending);
            }
        }
        const bool saved = std::string(name).starts_with("a literal is");
        EXPECT_EQ(backend.folders["Inbox"].messages.size(), saved ? 4u : 3u);
    }
}

TEST(ImapSessionTest, SelectNamesAThousandKeywordsAndEveryKeywordStaysInUse) {
    // Rows: keywords on the first message (each also in another case, which is the same
    // keyword); SELECT names at most 1000.
    constexpr std::size_t kNamed = 1000;
    const std::string system = "(\\Answered \\Flagged \\Deleted \\Seen \\Draft";
    for (const int count : {999, 1000, 1001, 3000}) {
        TestBackend backend;
        auto& first = backend.folders["Inbox"].messages[0].keywords;
        first.clear();
        for (int i = 0; i < count; ++i) {
            first.push_back("K" + std::to_string(i));
            first.push_back("k" + std::to_string(i));
        }
        Session session(backend, SessionSettings{});
        ASSERT_TRUE(Begin(session, LoggedIn));
        const auto reply = session.Receive("s SELECT INBOX\r\n").bytes;
        std::vector<std::string> expected;
        for (int i = 0; i < count && expected.size() < kNamed; ++i)
            expected.push_back("K" + std::to_string(i));
        if (expected.size() < kNamed) // then the second message's keywords
            for (const auto* keyword : {"sales@example.com", "Work&20list"})
                expected.push_back(keyword);
        expected.resize(std::min(expected.size(), kNamed));
        EXPECT_EQ(ListedKeywords(reply, "* FLAGS " + system), expected) << count;
        EXPECT_EQ(ListedKeywords(reply, "[PERMANENTFLAGS " + system), expected) << count;
        EXPECT_NE(reply.find(" \\*)] Flags and keywords are kept"), std::string::npos);
        // Those not named are still shown, found and changed like any other.
        const auto last = "K" + std::to_string(count - 1);
        EXPECT_NE(session.Receive("f FETCH 1 FLAGS\r\n").bytes.find(" " + last + " "),
                  std::string::npos);
        EXPECT_EQ(session.Receive("q SEARCH KEYWORD " + last + "\r\n").bytes,
                  "* SEARCH 1\r\nq OK SEARCH completed\r\n");
        EXPECT_NE(session.Receive("t STORE 2 +FLAGS (" + last + ")\r\n").bytes.find(last),
                  std::string::npos);
    }
}

TEST(ImapSessionTest, NonAsciiFolderNamesAreListedAndSelectedInModifiedUtf7) {
    TestBackend backend;
    backend.folders["Inbox/Entwürfe"].uidValidity = 80;
    Session session(backend, SessionSettings{});
    ASSERT_TRUE(Begin(session, LoggedIn));
    EXPECT_EQ(session.Receive("a LIST INBOX/ *\r\n").bytes,
              "* LIST (\\HasNoChildren) \"/\" \"INBOX/Entw&APw-rfe\"\r\n"
              "* LIST (\\HasNoChildren) \"/\" \"INBOX/Lists\"\r\n"
              "a OK LIST completed\r\n");
    EXPECT_NE(session.Receive("b SELECT INBOX/Entw&APw-rfe\r\n").bytes.find("[UIDVALIDITY 80]"),
              std::string::npos);
}

TEST(ImapSessionTest, FetchGivesFlagsKeywordsAndTheStoredBytes) {
    RunScripts(
        Selected,
        {{"flags and uid",
          {{"a FETCH 1:* (UID FLAGS)\r\n",
            "* 1 FETCH (UID 3 FLAGS (\\Seen alice@example.com))\r\n"
            "* 2 FETCH (UID 5 FLAGS (sales@example.com Work&20list))\r\n"
            "* 3 FETCH (UID 9 FLAGS (\\Flagged \\Deleted))\r\n"
            "a OK FETCH completed\r\n"}}},
         {"uid fetch adds the uid",
          {{"a UID FETCH 5:* RFC822.SIZE\r\n",
            "* 2 FETCH (UID 5 RFC822.SIZE 87)\r\n* 3 FETCH (UID 9 RFC822.SIZE 27)\r\n"
            "a OK UID FETCH completed\r\n"}}},
         {"uid fetch of nothing", {{"a UID FETCH 6:8 FLAGS\r\n", "a OK UID FETCH completed\r\n"}}},
         {"whole message marks seen",
          {{"a FETCH 2 BODY[]\r\n",
            "* 2 FETCH (BODY[] {87}\r\nFrom: carol@example.net\r\nTo: sales@example.com\r\n"
            "Subject: Order\r\n\r\nPlease send 5 boxes\r\n FLAGS (\\Seen sales@example.com "
            "Work&20list))\r\na OK FETCH completed\r\n"}}},
         {"peek leaves seen alone",
          {{"a FETCH 2 (BODY.PEEK[TEXT] FLAGS)\r\n",
            "* 2 FETCH (BODY[TEXT] {21}\r\nPlease send 5 boxes\r\n FLAGS (sales@example.com "
            "Work&20list))\r\na OK FETCH completed\r\n"}}},
         {"partial",
          {{"a FETCH 2 BODY.PEEK[]<6.5>\r\n",
            "* 2 FETCH (BODY[]<6> {5}\r\ncarol)\r\na OK FETCH completed\r\n"}}},
         {"partial past the end",
          {{"a FETCH 3 BODY.PEEK[]<500.5>\r\n",
            "* 3 FETCH (BODY[]<500> {0}\r\n)\r\na OK FETCH completed\r\n"}}},
         {"header fields",
          {{"a FETCH 1 BODY.PEEK[HEADER.FIELDS (subject to)]\r\n",
            "* 1 FETCH (BODY[HEADER.FIELDS (SUBJECT TO)] {41}\r\nTo: alice@example.com\r\n"
            "Subject: Hello\r\n\r\n)\r\na OK FETCH completed\r\n"}}},
         {"rfc822.header",
          {{"a FETCH 3 RFC822.HEADER\r\n",
            "* 3 FETCH (RFC822.HEADER {16}\r\nSubject: Old\r\n\r\n)\r\n"
            "a OK FETCH completed\r\n"}}},
         {"envelope", {{"a FETCH 1 ENVELOPE\r\n", "~* 1 FETCH (ENVELOPE (\"Mon, 7 Dec"}}},
         {"bodystructure", {{"a FETCH 3 BODYSTRUCTURE\r\n", "~(BODYSTRUCTURE (\"TEXT\""}}},
         {"bad items", {{"a FETCH 1 (FLAGS BOGUS)\r\n", "a BAD unknown FETCH item \"BOGUS\"\r\n"}}},
         {"bad set", {{"a FETCH x FLAGS\r\n", "a BAD Not a sequence set: x\r\n"}}},
         {"bad partial", {{"a FETCH 1 BODY[]<1>\r\n", "~a BAD a partial fetch"}}},
         {"macro fast",
          {{"a FETCH 3 FAST\r\n",
            "* 3 FETCH (FLAGS (\\Flagged \\Deleted) INTERNALDATE \"07-Dec-2026 10:00:09 +0000\" "
            "RFC822.SIZE 27)\r\na OK FETCH completed\r\n"}}}});
    RunScripts(LoggedIn,
               {{"examine never marks seen",
                 {{"e EXAMINE INBOX\r\n", "~e OK"},
                  {"a FETCH 2 RFC822.TEXT\r\n", "* 2 FETCH (RFC822.TEXT {21}\r\nPlease send 5 "
                                                "boxes\r\n)\r\na OK FETCH completed\r\n"}}}});
}

TEST(ImapSessionTest, StoreChangesFlagsAndKeywordsThroughTheBackend) {
    RunScripts(
        Selected,
        {{"add",
          {{"a STORE 2 +FLAGS (\\Flagged projectX)\r\n",
            "* 2 FETCH (FLAGS (\\Flagged sales@example.com Work&20list projectX))\r\n"
            "a OK STORE completed\r\n"},
           {"b FETCH 2 FLAGS\r\n", "~FLAGS (\\Flagged sales@example.com Work&20list projectX)"}}},
         {"remove a keyword in another case and an encoded one",
          {{"a STORE 2 -FLAGS (SALES@example.com Work&20list)\r\n",
            "* 2 FETCH (FLAGS ())\r\na OK STORE completed\r\n"}}},
         {"replace, silent, by uid",
          {{"a UID STORE 3 FLAGS.SILENT (\\Answered \\Draft)\r\n", "a OK UID STORE completed\r\n"},
           {"b FETCH 1 FLAGS\r\n", "~FLAGS (\\Answered \\Draft)"}}},
         {"uid store answers with the uid",
          {{"a UID STORE 9 -FLAGS \\Deleted\r\n",
            "* 3 FETCH (UID 9 FLAGS (\\Flagged))\r\na OK UID STORE completed\r\n"}}},
         {"bad item",
          {{"a STORE 1 FLAGZ x\r\n", "a BAD STORE takes FLAGS, +FLAGS or -FLAGS\r\n"}}}});
    RunScripts(LoggedIn, {{"read-only",
                           {{"e EXAMINE INBOX\r\n", "~e OK"},
                            {"a STORE 1 +FLAGS \\Flagged\r\n",
                             "a NO The folder is open read-only (EXAMINE)\r\n"}}}});
}

TEST_F(ImapSelectedSessionTest, StoreSavesOnlyWhatChanged) {
    session.Receive("a STORE 1:* +FLAGS (\\Seen)\r\n");
    EXPECT_EQ(backend.saves, (std::vector<std::uint32_t>{5, 9}));
}

TEST(ImapSessionTest, ExpungeRemovesDeletedMessagesOnly) {
    RunScripts(Selected,
               {{"expunge",
                 {{"a STORE 1 +FLAGS.SILENT \\Deleted\r\n", "a OK STORE completed\r\n"},
                  {"b EXPUNGE\r\n", "* 3 EXPUNGE\r\n* 1 EXPUNGE\r\nb OK EXPUNGE completed\r\n"},
                  {"c FETCH 1:* UID\r\n", "* 1 FETCH (UID 5)\r\nc OK FETCH completed\r\n"}}},
                {"uid expunge only in the set",
                 {{"a STORE 1 +FLAGS.SILENT \\Deleted\r\n", "a OK STORE completed\r\n"},
                  {"b UID EXPUNGE 1:4\r\n", "* 1 EXPUNGE\r\nb OK UID EXPUNGE completed\r\n"},
                  {"c UID SEARCH DELETED\r\n", "* SEARCH 9\r\nc OK UID SEARCH completed\r\n"}}}});
}

TEST_F(ImapSelectedSessionTest, SearchFindsByKeywordFlagsHeadersTextDatesAndSizes) {
    struct Case {
        const char* criteria;
        const char* numbers; // sequence numbers found
    };
    const Case cases[] = {
        {"ALL", " 1 2 3"},
        {"KEYWORD ALICE@EXAMPLE.COM", " 1"},
        {"KEYWORD Work&20list", " 2"},
        {"UNKEYWORD sales@example.com", " 1 3"},
        {"SEEN", " 1"},
        {"UNSEEN", " 2 3"},
        {"FLAGGED DELETED", " 3"},
        {"FROM carol", " 2"},
        {"TO \"ALICE@\"", " 1"},
        {"SUBJECT hello", " 1"},
        {"HEADER Subject Ord", " 2"},
        {"HEADER Date \"\"", " 1"},
        {"BODY boxes", " 2"},
        {"BODY Subject", ""},
        {"TEXT subject", " 1 2 3"},
        {"CHARSET UTF-8 TEXT boxes", " 2"},
        {"LARGER 80", " 1 2"},
        {"SMALLER 80", " 3"},
        {"SINCE 7-Dec-2026", " 1 2 3"},
        {"BEFORE 7-Dec-2026", ""},
        {"ON 7-dec-2026", " 1 2 3"},
        {"SENTON 7-Dec-2026", " 1"},
        {"SENTBEFORE 1-Jan-2026", ""},
        {"NOT SEEN", " 2 3"},
        {"OR SEEN FLAGGED", " 1 3"},
        {"(SEEN) (KEYWORD alice@example.com)", " 1"},
        {"2:*", " 2 3"},
        {"UID 5:9", " 2 3"},
        {"UID 4", ""},
        {"NEW", ""},
        {"OLD", " 1 2 3"},
    };
    const auto search = [&](const std::string& criteria) {
        return session.Receive("a SEARCH " + criteria + "\r\n").bytes;
    };
    for (const auto& c : cases)
        EXPECT_EQ(search(c.criteria),
                  std::string("* SEARCH") + c.numbers + "\r\na OK SEARCH completed\r\n")
            << c.criteria;
    for (const char* bad : {"", "FROM", "BOGUS", "SINCE yesterday", "LARGER x", "OR SEEN", "UID x"})
        EXPECT_TRUE(search(bad).starts_with("a BAD ")) << bad;
    EXPECT_TRUE(search("CHARSET KOI8-R ALL").starts_with("a NO [BADCHARSET (UTF-8 US-ASCII)]"));
}

// How IDLE reports the same while it waits is tested with a real client (imap_front_test.py).
TEST_F(ImapSelectedSessionTest, NoopReportsWhatChangedElsewhere) {
    auto& inbox = backend.folders["Inbox"];
    // Another session: message 3 expunged, message 1 flagged, a new message arrives.
    std::erase_if(inbox.messages, [](const auto& m) { return m.uid == 9; });
    inbox.messages[0].flags |= kFlagged;
    backend.Add(inbox, 10, 0, {"sales@example.com"}, "Subject: New\r\n", "x\r\n");
    EXPECT_EQ(session.Receive("a NOOP\r\n").bytes,
              "* 3 EXPUNGE\r\n* 1 FETCH (FLAGS (\\Flagged \\Seen alice@example.com))\r\n"
              "* 3 EXISTS\r\n* 1 RECENT\r\na OK NOOP completed\r\n");
    EXPECT_EQ(session.Receive("b FETCH 3 UID\r\n").bytes,
              "* 3 FETCH (UID 10)\r\nb OK FETCH completed\r\n");
}

// A MIME message whose third part is `third` (written as lines of 76 octets).
std::string ThirdPart(std::size_t size) {
    std::string lines;
    while (lines.size() < size)
        lines += std::string(76, 'y') + "\r\n";
    return lines;
}
const std::string kPartsHeader = "Subject: parts\r\nContent-Type: multipart/mixed; boundary=b\r\n";
std::string PartsBody(const std::string& third) {
    return "--b\r\nContent-Type: text/plain\r\n\r\nfirst part\r\n"
           "--b\r\nContent-Type: text/html\r\n\r\n<p>second</p>\r\n"
           "--b\r\nContent-Type: application/octet-stream\r\n\r\n" +
           third + "--b--\r\n";
}

// Partial fetches and sections, of a small message (read whole) and of one of 2 MB (read in
// ranges): the same answers, whichever way the text was read.
TEST(ImapSessionTest, PartialFetchesAndSectionsGiveTheSameOctetsHoweverTheMessageIsRead) {
    const auto headerSize = kPartsHeader.size() + 2;
    struct Case {
        std::string item;
        std::string expect; // the literal's content; or, starting with "~", text of the answer
        // Only the end of the message tells: the last part's end, a part that is not there.
        bool toTheEnd = false;
    };
    const Case cases[] = {
        {"BODY.PEEK[1]", "first part"},
        {"BODY.PEEK[2]", "<p>second</p>"},
        {"BODY.PEEK[2]<3.6>", "second"},
        {"BODY.PEEK[2]<10.100>", "/p>"}, // beyond the end: what there is
        {"BODY.PEEK[2]<13.5>", ""},      // at the end
        {"BODY.PEEK[2]<100.5>", ""},     // past the end
        {"BODY.PEEK[2]<0.0>", "~BAD a partial fetch must ask for at least one octet"},
        {"BODY.PEEK[2.MIME]", "Content-Type: text/html\r\n\r\n"},
        {"BODY.PEEK[3.MIME]", "Content-Type: application/octet-stream\r\n\r\n"},
        {"BODY.PEEK[3]<0.5>", "yyyyy", true},
        {"BODY.PEEK[4]", "", true},
        {"BODY.PEEK[1.TEXT]", ""}, // a text part has no TEXT of its own
        {"BODY.PEEK[]<0.7>", "Subject"},
        {"BODY.PEEK[]<" + std::to_string(headerSize - 2) + ".6>", "\r\n--b\r"}, // header, body
        {"BODY.PEEK[TEXT]<0.3>", "--b"},
        {"BODY.PEEK[HEADER.FIELDS (Subject)]<2.5>", "bject"},
        {"BINARY.PEEK[1]", "~BAD"},
    };
    for (const std::size_t third : {std::size_t(3), std::size_t(2) << 20}) {
        SCOPED_TRACE(third);
        Shared shared;
        TestBackend backend(shared);
        backend.Add(backend.folders["Inbox"], 20, 0, {}, kPartsHeader, PartsBody(ThirdPart(third)));
        Session session(backend, {});
        ASSERT_TRUE(Begin(session, Selected));
        for (const auto& c : cases) {
            const std::uint64_t readBefore = shared.octetsReadInRanges;
            const auto got = session.Receive("a UID FETCH 20 " + c.item + "\r\n").bytes;
            // Of the large message, only its start unless the end tells.
            if (third > 3 && !c.toTheEnd) {
                EXPECT_LT(shared.octetsReadInRanges - readBefore, 200u * 1024) << c.item;
            }
            if (c.expect.starts_with("~")) {
                EXPECT_NE(got.find(c.expect.substr(1)), std::string::npos) << c.item << ": " << got;
                continue;
            }
            const auto literal = "{" + std::to_string(c.expect.size()) + "}\r\n" + c.expect + ")";
            EXPECT_NE(got.find(literal), std::string::npos) << c.item << ": " << got;
            EXPECT_TRUE(got.ends_with("a OK UID FETCH completed\r\n")) << c.item;
        }
        // Nor was it read whole.
        if (third > 3) {
            EXPECT_EQ(shared.messagesRead, 0);
        }
        // The whole of it, asked for, is all there.
        const auto whole = session.Receive("a UID FETCH 20 BODY.PEEK[3]\r\n").bytes;
        const auto part = ThirdPart(third);
        EXPECT_NE(whole.find("{" + std::to_string(part.size() - 2) + "}\r\n" +
                             part.substr(0, part.size() - 2) + ")"),
                  std::string::npos);
    }
}

// A FETCH of many messages reads their texts together, in batches of bounded size.
TEST(ImapSessionTest, FetchReadsTextsInBatchesOfBoundedSize) {
    struct Case {
        int messages;
        std::size_t body;
        int fewestBatches, mostBatches;
    };
    const Case cases[] = {
        {100, 1000, 2, 2},      // a first batch of 64 KB, then all the others at once
        {12, 200 * 1024, 6, 6}, // 2.4 MB: batches of 64 KB doubling up to 1 MB
        {3, 3 << 20, 3, 3},     // larger than a batch: one each
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.messages);
        Shared shared;
        TestBackend backend(shared, c.messages, c.body);
        Session session(backend, {});
        ASSERT_TRUE(Begin(session, Selected));
        std::string answer;
        for (auto output = session.Receive("a FETCH 1:* BODY.PEEK[]\r\n");;
             output = session.Receive("")) {
            answer += output.bytes;
            if (!output.pending)
                break;
        }
        EXPECT_TRUE(answer.ends_with("a OK FETCH completed\r\n"));
        EXPECT_EQ(std::count(answer.begin(), answer.end(), '{'), c.messages);
        EXPECT_EQ(shared.messagesRead, c.messages);
        EXPECT_GE(shared.batchesRead, c.fewestBatches);
        EXPECT_LE(shared.batchesRead, c.mostBatches);
    }
}

} // namespace

// The Inbox's messages have the mod-sequences 2, 3 and 4 (UIDs 3, 5 and 9), its HIGHESTMODSEQ
// is 4; each change takes the next.
TEST(ImapSessionTest, CondstoreTellsModseqsAndStoresOnCondition) {
    RunScripts(
        Selected,
        {{"enable",
          {{"a ENABLE CONDSTORE\r\n", "* ENABLED CONDSTORE\r\na OK ENABLE completed\r\n"},
           {"b ENABLE condstore X-UNKNOWN\r\n", "* ENABLED\r\nb OK ENABLE completed\r\n"},
           {"c FETCH 1 FLAGS\r\n",
            "* 1 FETCH (FLAGS (\\Seen alice@example.com) MODSEQ (2))\r\nc OK FETCH completed\r\n"},
           {"d ENABLE\r\n", "d BAD ENABLE needs a capability name\r\n"}}},
         {"flags without modseq until enabled",
          {{"a FETCH 1 FLAGS\r\n",
            "* 1 FETCH (FLAGS (\\Seen alice@example.com))\r\na OK FETCH completed\r\n"}}},
         {"the modseq item enables it",
          {{"a FETCH 2 (MODSEQ)\r\n", "* 2 FETCH (MODSEQ (3))\r\na OK FETCH completed\r\n"},
           {"b STORE 2 +FLAGS (\\Seen)\r\n",
            "* 2 FETCH (UID 5 FLAGS (\\Seen sales@example.com Work&20list) MODSEQ (5))\r\n"
            "b OK STORE completed\r\n"}}},
         {"changed since",
          {{"a STORE 2 +FLAGS.SILENT (\\Answered)\r\n", "a OK STORE completed\r\n"},
           {"b UID FETCH 1:* (FLAGS) (CHANGEDSINCE 4)\r\n",
            "* 2 FETCH (UID 5 FLAGS (\\Answered sales@example.com Work&20list) MODSEQ (5))\r\n"
            "b OK UID FETCH completed\r\n"},
           {"c FETCH 1:* UID (CHANGEDSINCE 5)\r\n", "c OK FETCH completed\r\n"},
           {"d FETCH 1:* UID (CHANGEDSINCE 3)\r\n",
            "* 2 FETCH (UID 5 MODSEQ (5))\r\n* 3 FETCH (UID 9 MODSEQ (4))\r\n"
            "d OK FETCH completed\r\n"}}},
         {"unchanged since",
          {{"a STORE 1:3 (UNCHANGEDSINCE 3) +FLAGS.SILENT (\\Draft)\r\n",
            "* 1 FETCH (UID 3 MODSEQ (5))\r\n* 2 FETCH (UID 5 MODSEQ (6))\r\n"
            "a OK [MODIFIED 3] Conditional STORE failed\r\n"},
           {"b UID STORE 9 (UNCHANGEDSINCE 4) -FLAGS (\\Flagged)\r\n",
            "* 3 FETCH (UID 9 FLAGS (\\Deleted) MODSEQ (7))\r\nb OK UID STORE completed\r\n"},
           {"c UID STORE 3,5 (UNCHANGEDSINCE 0) +FLAGS (\\Seen)\r\n",
            "c OK [MODIFIED 3,5] Conditional UID STORE failed\r\n"},
           {"d STORE 1 (UNCHANGEDSINCE 5) +FLAGS (\\Draft)\r\n",
            "* 1 FETCH (UID 3 FLAGS (\\Seen \\Draft alice@example.com) MODSEQ (5))\r\n"
            "d OK STORE completed\r\n"}}},
         {"reading a message marks it seen with its modseq",
          {{"a ENABLE CONDSTORE\r\n", "~a OK"},
           {"b FETCH 2 BODY[TEXT]\r\n",
            "* 2 FETCH (UID 5 BODY[TEXT] {21}\r\nPlease send 5 boxes\r\n FLAGS (\\Seen "
            "sales@example.com Work&20list) MODSEQ (5))\r\nb OK FETCH completed\r\n"}}},
         {"search by modseq",
          {{"a SEARCH MODSEQ 3\r\n", "* SEARCH 2 3 (MODSEQ 4)\r\na OK SEARCH completed\r\n"},
           {"b UID SEARCH MODSEQ \"/flags/\\\\draft\" all 4\r\n",
            "* SEARCH 9 (MODSEQ 4)\r\nb OK UID SEARCH completed\r\n"},
           {"c SEARCH MODSEQ 99\r\n", "* SEARCH\r\nc OK SEARCH completed\r\n"},
           {"d SEARCH OR MODSEQ 4 SEEN\r\n",
            "* SEARCH 1 3 (MODSEQ 4)\r\nd OK SEARCH completed\r\n"},
           {"e FETCH 1 FLAGS\r\n", "~MODSEQ (2)"}}},
         {"refusals",
          {{"a SEARCH MODSEQ x\r\n", "~a BAD"},
           {"b SEARCH MODSEQ \"/flags/\\\\draft\" sometimes 4\r\n", "~b BAD"},
           {"c SEARCH MODSEQ 1234567890123456789\r\n", "~c BAD"},
           {"d FETCH 1 FLAGS (CHANGEDSINCE)\r\n", "~d BAD"},
           {"e FETCH 1 FLAGS (CHANGEDSINCE x)\r\n", "~e BAD"},
           {"f FETCH 1 FLAGS (VANISHED)\r\n", "~f BAD"},
           {"g FETCH 1 FLAGS (CHANGEDSINCE 1 CHANGEDSINCE 2)\r\n", "~g BAD"},
           {"h STORE 1 (UNCHANGEDSINCE x) +FLAGS \\Seen\r\n", "~h BAD"},
           {"i STORE 1 (UNCHANGEDSINCE 1 X 2) +FLAGS \\Seen\r\n", "~i BAD"},
           {"j STORE 1 (UNCHANGEDSINCE 1)\r\n", "~j BAD"},
           {"k ENABLE (CONDSTORE)\r\n", "~k BAD"},
           {"l FETCH 1 FLAGS\r\n", "* 1 FETCH (FLAGS (\\Seen alice@example.com))\r\n"
                                   "l OK FETCH completed\r\n"}}}});
    RunScripts(
        LoggedIn,
        {{"status",
          {{"a STATUS INBOX (HIGHESTMODSEQ MESSAGES)\r\n",
            "* STATUS \"INBOX\" (HIGHESTMODSEQ 4 MESSAGES 3)\r\na OK STATUS completed\r\n"},
           {"b SELECT INBOX\r\n", "~* OK [HIGHESTMODSEQ 4]"},
           {"c FETCH 3 FLAGS\r\n", "~MODSEQ (4)"}}},
         {"select with condstore",
          {{"a EXAMINE INBOX (CONDSTORE)\r\n", "~* OK [HIGHESTMODSEQ 4]"},
           {"b FETCH 1 FLAGS\r\n", "~MODSEQ (2)"}}},
         {"select with something else",
          {{"a SELECT INBOX (QRESYNC (77 4))\r\n", "a BAD QRESYNC needs ENABLE QRESYNC first\r\n"},
           {"b SELECT INBOX CONDSTORE\r\n", "~b BAD SELECT takes only (CONDSTORE) or (QRESYNC"},
           {"c SELECT INBOX (CONDSTORE CONDSTORE)\r\n", "~c BAD"}}}});
}

TEST_F(ImapSelectedSessionTest, AConditionalStoreIsCheckedAgainstTheStoreNotOnlyTheSession) {
    // Another session changed message 2 since this one read it.
    backend.folders["Inbox"].messages[1].modseq = 50;
    EXPECT_EQ(
        session.Receive("a STORE 1:2 (UNCHANGEDSINCE 10) +FLAGS.SILENT (\\Flagged)\r\n").bytes,
        "* 1 FETCH (UID 3 MODSEQ (5))\r\na OK [MODIFIED 2] Conditional STORE failed\r\n");
    EXPECT_EQ(backend.saves, std::vector<std::uint32_t>{3});
}

TEST_F(ImapSelectedSessionTest, ChangesElsewhereComeWithTheirModseqOnceEnabled) {
    auto& inbox = backend.folders["Inbox"];
    inbox.messages[0].flags |= kFlagged;
    inbox.messages[0].modseq = 8;
    EXPECT_EQ(session.Receive("a NOOP\r\n").bytes,
              "* 1 FETCH (FLAGS (\\Flagged \\Seen alice@example.com))\r\na OK NOOP completed\r\n");
    session.Receive("b ENABLE CONDSTORE\r\n");
    inbox.messages[0].flags &= ~kFlagged;
    inbox.messages[0].modseq = 9;
    // A save that changed no flag moves the mod-sequence on all the same.
    inbox.messages[1].modseq = 10;
    EXPECT_EQ(session.Receive("c NOOP\r\n").bytes,
              "* 1 FETCH (UID 3 FLAGS (\\Seen alice@example.com) MODSEQ (9))\r\n"
              "* 2 FETCH (UID 5 FLAGS (sales@example.com Work&20list) MODSEQ (10))\r\n"
              "c OK NOOP completed\r\n");
}

// QRESYNC on the Inbox of UIDs 3, 5 and 9 (mod-sequences 2, 3 and 4, UIDNEXT 10): the store keeps
// no removed UIDs, so every UID below UIDNEXT that no message has counts as vanished.
TEST(ImapSessionTest, QresyncTellsWhatVanishedAndChangedSinceTheClientLastKnew) {
    const Exchange enable{"a ENABLE QRESYNC\r\n", "* ENABLED QRESYNC\r\na OK ENABLE completed\r\n"};
    const std::string highest = "~* OK [HIGHESTMODSEQ 4] Highest mod-sequence\r\n";
    const std::string selected = "b OK [READ-WRITE] SELECT completed\r\n";
    const auto select = [](const std::string& parameter) {
        return "b SELECT INBOX (" + parameter + ")\r\n";
    };
    const std::string sentItems =
        "* FLAGS (\\Answered \\Flagged \\Deleted \\Seen \\Draft)\r\n"
        "* OK [PERMANENTFLAGS (\\Answered \\Flagged \\Deleted \\Seen \\Draft \\*)] Flags and "
        "keywords are kept\r\n* 0 EXISTS\r\n* 0 RECENT\r\n* OK [UIDVALIDITY 79] UIDs valid\r\n"
        "* OK [UIDNEXT 1] Predicted next UID\r\n* OK [HIGHESTMODSEQ 1] Highest mod-sequence\r\n";
    std::vector<Exchange> malformed = {enable};
    for (const char* bad :
         {"QRESYNC", "QRESYNC 77 4", "QRESYNC (77)", "QRESYNC (0 4)", "QRESYNC (4294967296 4)",
          "QRESYNC (77 x)", "QRESYNC (77 4 1:*)", "QRESYNC (77 4 3,x)",
          "QRESYNC (77 4 1:9 (1:2 3))", "QRESYNC (77 4 1:9 (2,1 5,3))", "QRESYNC (77 4 1:9 (1:2))",
          "QRESYNC (77 4 1:9 (1 3) 5)", "QRESYNC (77 4 (1 3) 1:9)", "QRESYNC (77 4) QRESYNC (77 4)",
          "QRESYNC (77 4) FANCY"})
        malformed.push_back({select(bad), "~b BAD"});
    malformed.push_back({"c FETCH 1 UID\r\n", "c BAD FETCH needs a selected folder\r\n"});
    RunScripts(LoggedIn,
               {{"enable",
                 {enable,
                  {"b ENABLE QRESYNC CONDSTORE\r\n", "* ENABLED\r\nb OK ENABLE completed\r\n"},
                  {"c SELECT INBOX\r\n", "~c OK"},
                  {"d FETCH 1 FLAGS\r\n", "~MODSEQ (2)"}}},
                {"condstore named when asked for",
                 {{"a ENABLE condstore QRESYNC\r\n",
                   "* ENABLED CONDSTORE QRESYNC\r\na OK ENABLE completed\r\n"}}},
                {"all the client may know",
                 {enable,
                  {select("QRESYNC (77 2)"),
                   highest +
                       "* VANISHED (EARLIER) 1:2,4,6:8\r\n"
                       "* 2 FETCH (UID 5 FLAGS (sales@example.com Work&20list) MODSEQ (3))\r\n"
                       "* 3 FETCH (UID 9 FLAGS (\\Flagged \\Deleted) MODSEQ (4))\r\n" +
                       selected}}},
                {"only the known uids",
                 {enable,
                  {"b EXAMINE INBOX (QRESYNC (77 1 3:4,20))\r\n",
                   highest + "* VANISHED (EARLIER) 4\r\n"
                             "* 1 FETCH (UID 3 FLAGS (\\Seen alice@example.com) MODSEQ (2))\r\n"
                             "b OK [READ-ONLY] EXAMINE completed\r\n"}}},
                {"nothing gone, nothing changed",
                 {enable, {select("QRESYNC (77 4 3,5,9)"), highest + selected}}},
                {"a sample that still matches leaves out what it covers",
                 {enable,
                  {select("CONDSTORE QRESYNC (77 4 1:9 (1:2 3,5))"),
                   highest + "* VANISHED (EARLIER) 6:8\r\n" + selected}}},
                {"a sample that differs counts up to where it does",
                 {enable,
                  {select("QRESYNC (77 4 1:9 (1:3 3,4,9))"),
                   highest + "* VANISHED (EARLIER) 4,6:8\r\n" + selected}}},
                {"a sample past the last message",
                 {enable, {select("QRESYNC (77 4 1:9 (1:4 3,5,9,12))"), highest + selected}}},
                {"another uidvalidity is a plain select",
                 {enable, {select("QRESYNC (76 1)"), highest + selected}}},
                {"malformed parameters", malformed}});
    RunScripts(
        Selected,
        {{"vanished instead of expunge",
          {enable,
           {"b STORE 1 +FLAGS.SILENT (\\Deleted)\r\n", "~b OK"},
           {"c EXPUNGE\r\n", "* VANISHED 3,9\r\nc OK EXPUNGE completed\r\n"}}},
         {"uid expunge and move",
          {enable,
           {"b UID STORE 3 +FLAGS.SILENT (\\Deleted)\r\n", "~b OK"},
           {"c UID EXPUNGE 1:4\r\n", "* VANISHED 3\r\nc OK UID EXPUNGE completed\r\n"},
           {"d UID MOVE 5:9 \"Sent Items\"\r\n",
            "* OK [COPYUID 79 5,9 1:2] Moved\r\n* VANISHED 5,9\r\nd OK UID MOVE completed\r\n"}}},
         {"uid fetch vanished",
          {enable,
           {"b UID FETCH 1:9 (FLAGS) (CHANGEDSINCE 3 VANISHED)\r\n",
            "* VANISHED (EARLIER) 1:2,4,6:8\r\n"
            "* 3 FETCH (UID 9 FLAGS (\\Flagged \\Deleted) MODSEQ (4))\r\n"
            "b OK UID FETCH completed\r\n"},
           {"c UID FETCH 6:* UID (VANISHED CHANGEDSINCE 4)\r\n",
            "* VANISHED (EARLIER) 6:8\r\nc OK UID FETCH completed\r\n"},
           {"d UID FETCH 4294967295:7 UID (CHANGEDSINCE 4 VANISHED)\r\n",
            "* VANISHED (EARLIER) 7:8\r\nd OK UID FETCH completed\r\n"},
           {"e UID FETCH 5 FLAGS (CHANGEDSINCE 1 VANISHED)\r\n",
            "* 2 FETCH (UID 5 FLAGS (sales@example.com Work&20list) MODSEQ (3))\r\n"
            "e OK UID FETCH completed\r\n"}}},
         {"vanished refusals",
          {{"a UID FETCH 1:* FLAGS (CHANGEDSINCE 1 VANISHED)\r\n",
            "a BAD VANISHED needs UID FETCH and ENABLE QRESYNC\r\n"},
           {"b ENABLE QRESYNC\r\n", "~b OK"},
           {"c FETCH 1 FLAGS (CHANGEDSINCE 1 VANISHED)\r\n",
            "c BAD VANISHED needs UID FETCH and ENABLE QRESYNC\r\n"},
           {"d UID FETCH 1 FLAGS (VANISHED)\r\n", "d BAD VANISHED needs CHANGEDSINCE\r\n"},
           {"e UID FETCH 1 FLAGS (CHANGEDSINCE 1 VANISHED VANISHED)\r\n", "~e BAD"}}},
         {"a select closes the folder selected before",
          {enable,
           {"b SELECT \"Sent Items\"\r\n",
            "* OK [CLOSED] Previous folder closed\r\n" + sentItems + selected},
           {"c EXAMINE Nowhere\r\n",
            "* OK [CLOSED] Previous folder closed\r\nc NO [NONEXISTENT] No such folder\r\n"},
           {"d SELECT \"Sent Items\"\r\n",
            sentItems + "d OK [READ-WRITE] SELECT completed\r\n"}}}});
}

TEST_F(ImapSelectedSessionTest, ExpungesElsewhereAreReportedAsVanishedOnceQresyncIsEnabled) {
    session.Receive("a ENABLE QRESYNC\r\n");
    auto& inbox = backend.folders["Inbox"];
    std::erase_if(inbox.messages, [](const auto& m) { return m.uid == 5; });
    inbox.messages[0].flags |= kFlagged;
    inbox.messages[0].modseq = 8;
    EXPECT_EQ(session.Receive("b NOOP\r\n").bytes,
              "* VANISHED 5\r\n"
              "* 1 FETCH (UID 3 FLAGS (\\Flagged \\Seen alice@example.com) MODSEQ (8))\r\n"
              "b OK NOOP completed\r\n");
}
