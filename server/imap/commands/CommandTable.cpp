// The table of commands and the refusals for those that may not run now.

#include "server/imap/commands/CommandTable.h"

#include "server/imap/commands/Commands.h"

namespace server::imap {

namespace {

const CommandEntry kCommands[] = {
    {"CAPABILITY", kAnyState, Capability},
    {"NOOP", kAnyState, Noop},
    // CHECK says itself when no folder is selected, also before a login.
    {"CHECK", kAnyState, Check},
    {"LOGOUT", kAnyState, Logout},
    {"ID", kAnyState, Id},
    {"STARTTLS", kAnyState, StartTls},
    {"LOGIN", kNotAuthenticated, Login},
    {"AUTHENTICATE", kNotAuthenticated, Authenticate},
    {"SELECT", kLoggedIn, Select},
    {"EXAMINE", kLoggedIn, Select},
    {"LIST", kLoggedIn, List},
    {"LSUB", kLoggedIn, List},
    {"STATUS", kLoggedIn, Status},
    {"NAMESPACE", kLoggedIn, Namespace},
    {"ENABLE", kLoggedIn, Enable},
    {"SUBSCRIBE", kLoggedIn, Subscribe},
    {"UNSUBSCRIBE", kLoggedIn, Subscribe},
    {"IDLE", kLoggedIn, Idle},
    {"CREATE", kLoggedIn, Create},
    {"DELETE", kLoggedIn, Delete},
    {"RENAME", kLoggedIn, Rename},
    {"APPEND", kLoggedIn, Append},
    {"COPY", kSelected,
     [](SessionContext& session, const Command& command) {
         return CopyOrMove(session, command, 0, false, false);
     }},
    {"MOVE", kSelected,
     [](SessionContext& session, const Command& command) {
         return CopyOrMove(session, command, 0, false, true);
     }},
    {"CLOSE", kSelected, Close},
    {"UNSELECT", kSelected, Close},
    {"EXPUNGE", kSelected, Expunge},
    {"FETCH", kSelected,
     [](SessionContext& session, const Command& command) {
         return Fetch(session, command, 0, false);
     }},
    {"STORE", kSelected,
     [](SessionContext& session, const Command& command) {
         return Store(session, command, 0, false);
     }},
    {"SEARCH", kSelected,
     [](SessionContext& session, const Command& command) {
         return Search(session, command, 0, false);
     }},
    {"UID", kSelected, Uid},
};

unsigned BitOf(SessionState state) {
    switch (state) {
    case SessionState::NotAuthenticated:
        return kNotAuthenticated;
    case SessionState::Authenticated:
        return kAuthenticated;
    case SessionState::Selected:
        return kSelected;
    case SessionState::Logout:
        break;
    }
    return 0;
}

} // namespace

bool CommandEntry::AllowedIn(SessionState state) const {
    return (states & BitOf(state)) != 0;
}

const CommandEntry* FindCommand(std::string_view name) {
    for (const auto& entry : kCommands)
        if (entry.name == name)
            return &entry;
    return nullptr;
}

std::string Refusal(const CommandEntry* entry, std::string_view name, SessionState state) {
    const std::string command(name);
    if (state == SessionState::NotAuthenticated)
        return command + " needs a login first (LOGIN or AUTHENTICATE)";
    if (!entry)
        return "Unknown command " + command;
    if (entry->states & kNotAuthenticated)
        return "Already logged in";
    return command + " needs a selected folder";
}

} // namespace server::imap
