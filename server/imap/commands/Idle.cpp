// IDLE: the session reports the selected folder's changes as they come (Session::Poll) until the
// client sends DONE.

#include "server/imap/commands/Commands.h"

namespace server::imap {

Output Idle(SessionContext& session, const Command& command) {
    if (!command.arguments.empty())
        return Answer(Tagged(command.tag, "BAD", "IDLE takes no arguments"));
    session.idle = command.tag;
    return Answer("+ idling\r\n" + session.Synchronize());
}

Output ContinueIdle(SessionContext& session, std::string_view line) {
    const auto tag = *session.idle;
    session.idle.reset();
    if (AsciiUpper(line) != "DONE")
        return Answer(Tagged(tag, "BAD", "IDLE ends with DONE"));
    return Answer(session.Synchronize() + Tagged(tag, "OK", "IDLE terminated"));
}

} // namespace server::imap
