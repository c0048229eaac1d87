#pragma once

// The commands this server knows: for each, the states it may run in and the handler that runs
// it. A command that may not run in the session's state is answered BAD, saying why.

#include "server/imap/ImapCommand.h"
#include "server/imap/ImapSessionContext.h"

#include <string>
#include <string_view>

namespace server::imap {

using CommandHandler = Output (*)(SessionContext& session, const Command& command);

// The states a command may run in, as bits.
enum AllowedStates : unsigned {
    kNotAuthenticated = 1,
    kAuthenticated = 2,
    kSelected = 4,
    kLoggedIn = kAuthenticated | kSelected,
    kAnyState = kNotAuthenticated | kLoggedIn,
};

struct CommandEntry {
    std::string_view name; // upper case
    unsigned states;       // AllowedStates
    CommandHandler handler;

    bool AllowedIn(SessionState state) const;
};

// The entry of a command name (upper case); null for a command this server does not know.
const CommandEntry* FindCommand(std::string_view name);

// Why a command may not run in the state (null entry: an unknown command). Before a login every
// command asks for one.
std::string Refusal(const CommandEntry* entry, std::string_view name, SessionState state);

} // namespace server::imap
