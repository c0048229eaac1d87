// The IMAP command table and the pieces its handlers are made of: which command runs in which
// state and what the others are told, STORE's flag changes, SASL PLAIN responses and LIST's
// patterns.

#include "server/imap/commands/CommandTable.h"
#include "server/imap/commands/FlagChange.h"
#include "server/imap/commands/MailboxPattern.h"
#include "server/login/SaslPlain.h"

#include "server/imap/ImapWire.h"

#include <gtest/gtest.h>

using namespace server::imap;

namespace {

TEST(ImapCommandTableTest, EachCommandRunsInItsStatesAndIsRefusedElsewhere) {
    using enum SessionState;
    struct Case {
        const char* name;
        SessionState state;
        const char* refusal; // null: the command runs
    };
    const Case cases[] = {
        {"CAPABILITY", NotAuthenticated, nullptr},
        {"NOOP", Selected, nullptr},
        {"CHECK", NotAuthenticated, nullptr}, // its handler asks for the folder
        {"LOGOUT", Authenticated, nullptr},
        {"STARTTLS", Selected, nullptr},
        {"LOGIN", NotAuthenticated, nullptr},
        {"LOGIN", Authenticated, "Already logged in"},
        {"AUTHENTICATE", Selected, "Already logged in"},
        {"SELECT", NotAuthenticated, "SELECT needs a login first (LOGIN or AUTHENTICATE)"},
        {"SELECT", Selected, nullptr},
        {"LSUB", Authenticated, nullptr},
        {"IDLE", Authenticated, nullptr},
        {"APPEND", Authenticated, nullptr}, // answered NO by its handler
        {"FETCH", NotAuthenticated, "FETCH needs a login first (LOGIN or AUTHENTICATE)"},
        {"FETCH", Authenticated, "FETCH needs a selected folder"},
        {"UID", Authenticated, "UID needs a selected folder"},
        {"UNSELECT", Selected, nullptr},
        {"FROB", NotAuthenticated, "FROB needs a login first (LOGIN or AUTHENTICATE)"},
        {"FROB", Selected, "Unknown command FROB"},
        {"LOGOUT", Logout, ""}, // a session that has ended runs nothing
    };
    for (const auto& c : cases) {
        const auto* entry = FindCommand(c.name);
        const bool runs = entry && entry->AllowedIn(c.state);
        EXPECT_EQ(runs, c.refusal == nullptr) << c.name;
        if (c.refusal && *c.refusal) {
            EXPECT_EQ(Refusal(entry, c.name, c.state), c.refusal) << c.name;
        }
    }
    EXPECT_EQ(FindCommand("fetch"), nullptr); // the parser gives names in upper case
}

TEST(ImapCommandTableTest, FlagChangesReadAndApplied) {
    struct Case {
        const char* item;
        std::vector<std::string> flags;
        std::string error;
        unsigned flagsAfter; // of a message with \Seen and keywords "a", "B"
        std::vector<std::string> keywordsAfter;
        bool silent;
    };
    const Case cases[] = {
        {"FLAGS", {"\\Flagged", "c"}, "", kFlagged, {"c"}, false},
        {"+flags", {"\\Draft", "b", "c", "C"}, "", kSeen | kDraft, {"a", "B", "c"}, false},
        {"-FLAGS.SILENT", {"\\Seen", "A", "\\Recent"}, "", 0, {"B"}, true},
        {"FLAGS", {}, "", 0, {}, false},
        {"FLAGS", {"Work&20list"}, "", 0, {"Work list"}, false},
        {"FLAGS", {"\\Bogus"}, "Unknown system flag \\Bogus", 0, {}, false},
        {"COPY", {"\\Seen"}, "STORE takes FLAGS, +FLAGS or -FLAGS", 0, {}, false},
    };
    for (const auto& c : cases) {
        std::vector<Argument> flags;
        for (const auto& flag : c.flags)
            flags.push_back({Argument::Kind::Atom, flag, {}});
        // As a list and as atoms one after another.
        const Argument list{Argument::Kind::List, "", flags};
        for (const auto& given : {std::vector<Argument>{list}, flags}) {
            const auto request = ReadFlagChange({Argument::Kind::Atom, c.item, {}}, given);
            EXPECT_EQ(request.error, c.error) << c.item;
            if (!c.error.empty())
                continue;
            unsigned messageFlags = kSeen;
            std::vector<std::string> keywords = {"a", "B"};
            request.change.ApplyTo(messageFlags, keywords);
            EXPECT_EQ(messageFlags, c.flagsAfter) << c.item;
            EXPECT_EQ(keywords, c.keywordsAfter) << c.item;
            EXPECT_EQ(request.change.silent, c.silent) << c.item;
        }
    }
    const Argument quoted{Argument::Kind::String, "x", {}};
    EXPECT_EQ(
        ReadFlagChange({Argument::Kind::Atom, "FLAGS", {}}, std::vector<Argument>{quoted}).error,
        "Flags must be atoms");
}

TEST(ImapCommandTableTest, PlainResponsesSplitAtTheirNuls) {
    using server::login::DecodePlainResponse;
    using Fault = server::login::PlainResponse::Fault;
    struct Case {
        const char* line;
        Fault fault;
        const char* authzid;
        const char* authcid;
        const char* password;
    };
    const Case cases[] = {
        {"AGFsaWNlAHNlY3JldA==", Fault::None, "", "alice", "secret"},        // \0alice\0secret
        {"Ym9iAGFsaWNlAHNlY3JldA==", Fault::None, "bob", "alice", "secret"}, // bob\0alice\0secret
        {"AAA=", Fault::None, "", "", ""},                                   // \0\0
        {"=", Fault::NotThreeParts, "", "", ""},
        {"YWxpY2U=", Fault::NotThreeParts, "", "", ""}, // alice
        {"AGEAYgBj", Fault::NotThreeParts, "", "", ""}, // \0a\0b\0c
        {"!!!!", Fault::NotBase64, "", "", ""}, // what else strict base64 refuses: Base64Test
    };
    for (const auto& c : cases) {
        const auto response = DecodePlainResponse(c.line);
        EXPECT_EQ(response.fault, c.fault) << c.line;
        EXPECT_EQ(response.authzid, c.authzid) << c.line;
        EXPECT_EQ(response.authcid, c.authcid) << c.line;
        EXPECT_EQ(response.password, c.password) << c.line;
    }
}

TEST(ImapCommandTableTest, MailboxPatternsMatchWithBothWildcards) {
    struct Case {
        const char* name;
        const char* pattern;
        bool matches;
    };
    const Case cases[] = {
        {"INBOX", "INBOX", true},
        {"INBOX", "inbox", false},
        {"INBOX/Lists", "*", true},
        {"INBOX/Lists", "%", false},
        {"INBOX/Lists", "INBOX/%", true},
        {"INBOX/Lists/a", "INBOX/%", false},
        {"INBOX/Lists/a", "INBOX/*", true},
        {"Sent Items", "S*s", true},
        {"Sent Items", "%It%", true},
        {"", "*", true},
        {"", "", true},
        {"a", "", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MatchesPattern(c.name, c.pattern, '/'), c.matches)
            << c.name << " ~ " << c.pattern;
}

} // namespace
