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
// Every step that fails (a backend call throws) answers NO with an id that the log explains;
// the session goes on.
//
// Memory: input before a login is held to small limits, and an answer is made a part at a time
// (SessionSettings::outputPart): the caller sends one part before it asks for the next.

#include "server/imap/ImapBackend.h"
#include "server/imap/ImapCommand.h"
#include "server/imap/ImapInput.h"
#include "server/imap/ImapReplies.h"
#include "server/imap/ImapSessionContext.h"

#include <optional>
#include <string>
#include <string_view>

namespace server::imap {

class Session {
public:
    // The backend must outlive the session. `client` names the client in the log: its IP
    // address, or "local".
    Session(Backend& backend, SessionSettings settings, std::string client = "local");
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    std::string Greeting() const;
    // The untagged BYE for a session the server ends on its own (shutting down, idle too long).
    static std::string Bye(std::string_view why);

    // Takes the bytes and answers the commands they complete, until the answer holds about
    // SessionSettings::outputPart octets. What is left (Output::pending) goes on at the next
    // call, which need not bring any bytes.
    Output Receive(std::string_view bytes);
    // Takes the bytes as Receive does, and answers at once where that needs no backend call and
    // may run on the network thread: the bytes complete nothing yet, or they ask for a literal
    // ("+"). Nothing when a step is to run: Receive goes on with it, with no more bytes.
    std::optional<Output> ReceiveAtOnce(std::string_view bytes);
    // While idling: reports what changed in the selected folder since the last report.
    Output Poll();

    // From any thread: a login waiting for its turn (SessionSettings::loginThrottle) gives up,
    // unchecked, and so does every later one; for a connection that closes or a server that stops.
    void Interrupt() { context_.loginWait.Interrupt(); }

    // The session's id in the log; the same for its whole life.
    const std::string& Id() const { return context_.id; }
    bool Idling() const { return context_.idle.has_value(); }
    bool Closed() const { return context_.state == SessionState::Logout; }

private:
    // The selected folder's change token, asked of the backend once per folder.
    const std::string& WatchToken();
    Output Run(InputEvent event);
    Output Line(std::string line);
    Output Execute(const Command& command);
    // Runs one step; a failure answers `tag` NO, logged, and leaves no command half under way.
    template <class Step>
    Output Guarded(const std::string& tag, std::string_view name, Step&& step);
    // The tag of the AUTHENTICATE or IDLE a line answers, which it ends; nothing otherwise.
    std::optional<std::string> EndContinuation();
    // Fills in what the network layer needs to know of the session after a step.
    Output Finish(Output output);

    SessionContext context_;
    CommandInput input_;
    std::optional<InputEvent> nextEvent_; // taken from the input, not yet run
    std::string tokenFolder_, token_;     // WatchToken's last answer, and its folder
};

} // namespace server::imap
