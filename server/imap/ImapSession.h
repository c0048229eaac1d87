#pragma once

// One IMAP session (RFC 3501) as a state machine: bytes from the client go in, the responses
// they call for come out, in order. No sockets: the network layer feeds it whatever arrives and
// writes what comes back. Backend calls (logins, store reads and saves) run on the caller's
// thread.
//
// States: not authenticated (CAPABILITY, NOOP, LOGOUT, LOGIN, AUTHENTICATE; STARTTLS is
// refused), authenticated (folders), selected (messages) and logged out. Which command may run
// in which state is the command table's (commands/CommandTable.h). A failed login asks the
// caller to wait before sending the answer; after a few failures in a row the session ends.

#include "server/imap/ImapBackend.h"
#include "server/imap/ImapCommand.h"
#include "server/imap/ImapInput.h"
#include "server/imap/ImapReplies.h"
#include "server/imap/ImapSessionContext.h"

#include <string>
#include <string_view>

namespace server::imap {

class Session {
public:
    // The backend must outlive the session. `client` names the client in the log: its IP
    // address, or "local".
    Session(Backend& backend, SessionSettings settings, std::string client = "local");

    std::string Greeting() const;
    // The untagged BYE for a session the server ends on its own (shutting down, idle too long).
    static std::string Bye(std::string_view why);

    // Takes the bytes and answers every command they complete.
    Output Receive(std::string_view bytes);
    // While idling: reports what changed in the selected folder since the last report.
    Output Poll();

    // From any thread: a login waiting for its turn (SessionSettings::loginThrottle) gives up,
    // unchecked, and so does every later one; for a connection that closes or a server that stops.
    void Interrupt() { context_.loginWait.Interrupt(); }

    bool Idling() const { return context_.idle.has_value(); }
    bool Closed() const { return context_.state == SessionState::Logout; }

private:
    Output Line(std::string_view line);
    Output Execute(const Command& command);

    SessionContext context_;
    CommandInput input_;
};

} // namespace server::imap
