// The IMAP session: framing input into commands, each looked up in the command table, checked
// against the session's state and run by its handler; a backend failure answers NO with an id.

#include "server/imap/ImapSession.h"

#include "server/imap/ImapFailures.h"
#include "server/imap/commands/CommandTable.h"
#include "server/imap/commands/Commands.h"

#include "server/log/LogId.h"

#include <exception>
#include <utility>

namespace server::imap {

Session::Session(Backend& backend, SessionSettings settings, std::string client)
    : context_(backend, std::move(settings), std::move(client), log::NewId()),
      input_(context_.settings.loginLimits) {
    context_.encrypted = context_.settings.encrypted;
}

std::string Session::Greeting() const {
    return "* OK [CAPABILITY " + context_.Capabilities() + "] " + context_.settings.hostName +
           " IMAP ready\r\n";
}

std::string Session::Bye(std::string_view why) {
    return imap::Bye(why);
}

Output Session::Receive(std::string_view bytes) {
    Output output;
    if (Closed())
        return Finish(std::move(output));
    input_.Append(bytes);
    while (!Closed() && !output.close && !output.startTls &&
           output.bytes.size() < context_.settings.outputPart) {
        if (context_.unfinished) {
            auto command = std::move(*context_.unfinished);
            context_.unfinished.reset();
            output.Append(Guarded(command.tag, command.name, command.next));
            continue;
        }
        if (!nextEvent_)
            nextEvent_ = input_.Next();
        if (!nextEvent_)
            break;
        output.Append(Run(*std::exchange(nextEvent_, std::nullopt)));
        const bool loggedIn = context_.state != SessionState::NotAuthenticated;
        input_.SetLimits(loggedIn ? context_.settings.limits : context_.settings.loginLimits);
    }
    return Finish(std::move(output));
}

std::optional<Output> Session::ReceiveAtOnce(std::string_view bytes) {
    input_.Append(bytes);
    // An unfinished answer or an IDLE's end reads the store; so may Finish while idling.
    if (Closed() || context_.unfinished || Idling())
        return std::nullopt;
    if (!nextEvent_)
        nextEvent_ = input_.Next();
    Output output;
    if (nextEvent_) {
        if (nextEvent_->kind != InputEvent::Kind::Continue)
            return std::nullopt;
        output = Run(*std::exchange(nextEvent_, std::nullopt));
    }
    return Finish(std::move(output));
}

Output Session::Poll() {
    Output output;
    if (!context_.idle || Closed())
        return Finish(std::move(output));
    try {
        output.bytes = context_.Synchronize();
    } catch (...) {
        const auto id = LogFailure({context_.id, context_.client, context_.user, "IDLE"},
                                   FailureDetail(std::current_exception()));
        output.bytes = Bye(FailureText(id));
        output.close = true;
        output.ending = "failure";
    }
    return Finish(std::move(output));
}

const std::string& Session::WatchToken() {
    if (tokenFolder_ != context_.folder || token_.empty()) {
        tokenFolder_ = context_.folder;
        try {
            token_ = context_.backend.ChangeToken(context_.folder);
        } catch (...) {
            // Without a token the folder is still looked at now and then.
            LogFailure({context_.id, context_.client, context_.user, "IDLE"},
                       FailureDetail(std::current_exception()));
            token_.clear();
        }
    }
    return token_;
}

Output Session::Finish(Output output) {
    if (output.close)
        context_.state = SessionState::Logout;
    if (output.startTls) {
        // What followed STARTTLS came in clear: a command injected before the handshake must
        // not run as if it had come through TLS.
        input_.Clear();
        nextEvent_.reset();
    }
    if (Closed()) {
        output.close = true;
        if (output.ending.empty())
            output.ending = "logout";
        input_.Clear();
        nextEvent_.reset();
        context_.unfinished.reset();
    } else {
        if (!nextEvent_ && !context_.unfinished)
            nextEvent_ = input_.Next();
        output.pending = nextEvent_.has_value() || context_.unfinished.has_value();
        if (!output.pending)
            output.awaited = input_.OctetsAwaited();
    }
    output.idling = Idling();
    if (output.idling && context_.state == SessionState::Selected)
        output.watch = WatchToken();
    output.loggedIn =
        context_.state == SessionState::Authenticated || context_.state == SessionState::Selected;
    return output;
}

template <class Step>
Output Session::Guarded(const std::string& tag, std::string_view name, Step&& step) {
    try {
        return step();
    } catch (...) {
        const auto id = LogFailure({context_.id, context_.client, context_.user, name},
                                   FailureDetail(std::current_exception()));
        // Nothing the step began goes on: the next line is a command again.
        context_.authenticating.reset();
        context_.idle.reset();
        context_.unfinished.reset();
        return Answer(Tagged(tag, "NO", FailureText(id)));
    }
}

std::optional<std::string> Session::EndContinuation() {
    auto& awaiting = context_.authenticating ? context_.authenticating : context_.idle;
    return std::exchange(awaiting, std::nullopt);
}

Output Session::Run(InputEvent event) {
    const auto& limits = input_.Limits();
    using Kind = InputEvent::Kind;
    switch (event.kind) {
    case Kind::Command:
        return Line(std::move(event.text));
    case Kind::Continue:
        return Answer("+ Ready for the literal\r\n");
    case Kind::LineTooLong:
        return Answer(
            Tagged(EndContinuation().value_or(TagOf(event.text)), "BAD",
                   "Line too long: at most " + std::to_string(limits.maxLine) + " octets"));
    case Kind::LiteralTooLarge:
    case Kind::LiteralTooLargeNow:
        break;
    }
    auto output = Answer(Tagged(EndContinuation().value_or(TagOf(event.text)), "BAD",
                                "[TOOBIG] Literal too large: at most " +
                                    std::to_string(limits.maxLiteral) + " octets"));
    if (event.kind == Kind::LiteralTooLargeNow) {
        output.bytes += Bye("The literal announced cannot be taken; closing");
        output.close = true;
        output.ending = "literal-too-large";
    }
    return output;
}

Output Session::Line(std::string line) {
    if (context_.authenticating) {
        const auto tag = *context_.authenticating;
        return Guarded(tag, "AUTHENTICATE", [&] { return ContinueAuthentication(context_, line); });
    }
    if (context_.idle) {
        const auto tag = *context_.idle;
        return Guarded(tag, "IDLE", [&] { return ContinueIdle(context_, line); });
    }
    const auto parsed = ParseCommand(line);
    if (!parsed.error.empty())
        return Answer(Tagged(TagOf(line), "BAD", "Syntax error: " + parsed.error));
    // The command holds its own copy of what it needs: a literal of megabytes is not kept
    // twice while the command runs.
    std::string().swap(line);
    return Guarded(parsed.command.tag, parsed.command.name,
                   [&] { return Execute(parsed.command); });
}

Output Session::Execute(const Command& command) {
    const auto* entry = FindCommand(command.name);
    if (!entry || !entry->AllowedIn(context_.state))
        return Answer(Tagged(command.tag, "BAD", Refusal(entry, command.name, context_.state)));
    return entry->handler(context_, command);
}

} // namespace server::imap
