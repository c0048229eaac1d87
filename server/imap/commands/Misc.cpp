// The commands that take no folder and read nothing of the store: capabilities, no-ops, logout,
// ID, namespaces and ENABLE.

#include "server/imap/commands/Commands.h"

#include <algorithm>

namespace server::imap {

Output Capability(SessionContext& session, const Command& command) {
    return Answer("* CAPABILITY " + session.Capabilities() + "\r\n" +
                  Tagged(command.tag, "OK", "CAPABILITY completed"));
}

Output Noop(SessionContext& session, const Command& command) {
    return Answer(session.Synchronize() + Tagged(command.tag, "OK", command.name + " completed"));
}

Output Check(SessionContext& session, const Command& command) {
    if (session.state != SessionState::Selected)
        return Answer(Tagged(command.tag, "BAD", "CHECK needs a selected folder"));
    return Noop(session, command);
}

Output Logout(SessionContext& session, const Command& command) {
    session.state = SessionState::Logout;
    auto output = Answer(Bye(session.settings.hostName + " logging out") +
                         Tagged(command.tag, "OK", "LOGOUT completed"));
    output.close = true;
    return output;
}

Output Id(SessionContext&, const Command& command) {
    return Answer("* ID (\"name\" \"exhost\")\r\n" + Tagged(command.tag, "OK", "ID completed"));
}

Output StartTls(SessionContext& session, const Command& command) {
    if (session.encrypted)
        return Answer(Tagged(command.tag, "BAD", "TLS is already active"));
    if (!session.settings.tlsOffered)
        return Answer(
            Tagged(command.tag, "BAD", "STARTTLS is not offered here: this server has no TLS"));
    if (session.state != SessionState::NotAuthenticated)
        return Answer(Tagged(command.tag, "BAD", "STARTTLS comes before the login"));
    if (!command.arguments.empty())
        return Answer(Tagged(command.tag, "BAD", "STARTTLS takes no arguments"));
    session.encrypted = true;
    auto output = Answer(Tagged(command.tag, "OK", "Begin TLS negotiation now"));
    output.startTls = true;
    return output;
}

Output Namespace(SessionContext&, const Command& command) {
    return Answer("* NAMESPACE ((\"\" \"/\")) NIL NIL\r\n" +
                  Tagged(command.tag, "OK", "NAMESPACE completed"));
}

// RFC 5161: ENABLED names what this command enabled of what it asked for; names not known here
// are passed over. QRESYNC enables CONDSTORE too (RFC 7162), named only when asked for.
Output Enable(SessionContext& session, const Command& command) {
    if (command.arguments.empty())
        return Answer(Tagged(command.tag, "BAD", "ENABLE needs a capability name"));
    for (const auto& argument : command.arguments)
        if (!argument.IsAtom())
            return Answer(Tagged(command.tag, "BAD", "ENABLE takes capability names"));
    const auto asked = [&](const char* name) {
        return std::any_of(command.arguments.begin(), command.arguments.end(),
                           [&](const auto& argument) { return AsciiUpper(argument.text) == name; });
    };
    std::string enabled;
    const bool qresync = asked("QRESYNC");
    if (asked("CONDSTORE") && !session.condstore)
        enabled += " CONDSTORE";
    if (qresync && !session.qresync)
        enabled += " QRESYNC";
    session.condstore = session.condstore || qresync || asked("CONDSTORE");
    session.qresync = session.qresync || qresync;
    return Answer("* ENABLED" + enabled + "\r\n" + Tagged(command.tag, "OK", "ENABLE completed"));
}

} // namespace server::imap
