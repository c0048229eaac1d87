// The IMAP session: framing input into commands, each looked up in the command table, checked
// against the session's state and run by its handler; a backend failure answers NO.

#include "server/imap/ImapSession.h"

#include "server/imap/commands/CommandTable.h"
#include "server/imap/commands/Commands.h"

#include <exception>

namespace server::imap {

Session::Session(Backend& backend, SessionSettings settings, std::string client)
    : context_(backend, std::move(settings), std::move(client)), input_(context_.settings.limits) {
}

std::string Session::Greeting() const {
    return std::string("* OK [CAPABILITY ") + kCapabilities + "] " + context_.settings.hostName +
           " IMAP ready\r\n";
}

std::string Session::Bye(std::string_view why) {
    return imap::Bye(why);
}

Output Session::Receive(std::string_view bytes) {
    Output output;
    if (Closed())
        return output;
    const auto& limits = context_.settings.limits;
    input_.Append(bytes);
    while (!Closed() && !output.close) {
        auto event = input_.Next();
        if (!event)
            break;
        using Kind = InputEvent::Kind;
        switch (event->kind) {
        case Kind::Command:
            output.Append(Line(event->text));
            break;
        case Kind::Continue:
            output.bytes += "+ Ready for the literal\r\n";
            break;
        case Kind::LineTooLong:
            output.bytes +=
                Tagged(TagOf(event->text), "BAD",
                       "Line too long: at most " + std::to_string(limits.maxLine) + " octets");
            break;
        case Kind::LiteralTooLarge:
            output.bytes += Tagged(TagOf(event->text), "BAD",
                                   "[TOOBIG] Literal too large: at most " +
                                       std::to_string(limits.maxLiteral) + " octets");
            break;
        case Kind::LiteralTooLargeNow:
            output.bytes += Tagged(TagOf(event->text), "BAD",
                                   "[TOOBIG] Literal too large: at most " +
                                       std::to_string(limits.maxLiteral) + " octets");
            output.bytes += Bye("The literal announced cannot be taken; closing");
            output.close = true;
            context_.state = SessionState::Logout;
            break;
        }
    }
    if (Closed()) {
        output.close = true;
        input_.Clear();
    }
    return output;
}

Output Session::Poll() {
    Output output;
    if (context_.idle)
        output.bytes = context_.Synchronize();
    return output;
}

Output Session::Line(std::string_view line) {
    if (context_.authenticating)
        return ContinueAuthentication(context_, line);
    if (context_.idle)
        return ContinueIdle(context_, line);
    const auto parsed = ParseCommand(line);
    if (!parsed.error.empty())
        return Answer(Tagged(TagOf(line), "BAD", "Syntax error: " + parsed.error));
    try {
        return Execute(parsed.command);
    } catch (const std::exception& failure) {
        return Answer(
            Tagged(parsed.command.tag, "NO", std::string("[UNAVAILABLE] ") + failure.what()));
    }
}

Output Session::Execute(const Command& command) {
    const auto* entry = FindCommand(command.name);
    if (!entry || !entry->AllowedIn(context_.state))
        return Answer(Tagged(command.tag, "BAD", Refusal(entry, command.name, context_.state)));
    return entry->handler(context_, command);
}

} // namespace server::imap
