// LOGIN and AUTHENTICATE PLAIN: both end in one check of the user's password. The server's login
// throttle decides when a password may be checked, across all its sessions; a failure is paused
// and counted, so that guessing costs time and ends the session after a few tries.

#include "server/imap/commands/Commands.h"

#include "server/log/ServerLog.h"
#include "server/login/LoginWait.h"
#include "server/login/SaslPlain.h"

namespace server::imap {

namespace {

// Waits, on this session's thread, until the throttle lets the try be checked; false when the
// connection closed or the server stops meanwhile.
bool AwaitTurn(SessionContext& session, const std::string& name) {
    if (!session.settings.loginThrottle)
        return true;
    return login::AwaitLoginTurn(*session.settings.loginThrottle,
                                 {session.id, session.client, name}, session.loginWait);
}

Output LoginWith(SessionContext& session, const std::string& tag, const std::string& name,
                 const std::string& password) {
    // A try without a name or a password is refused unchecked: it tells a guesser nothing.
    if (!name.empty() && !password.empty()) {
        if (!AwaitTurn(session, name))
            return Answer(Tagged(tag, "NO", "[UNAVAILABLE] Login not checked, try again later"));
        const auto answer = session.backend.Login(name, password);
        const bool accepted = answer.outcome == LoginOutcome::Accepted;
        if (session.settings.loginThrottle)
            session.settings.loginThrottle->Checked(session.client, name, answer.account, accepted);
        if (accepted) {
            session.failedLogins = 0;
            session.state = SessionState::Authenticated;
            session.user = name;
            log::Event(log::Severity::Info, "login-ok")
                .Field("session", session.id)
                .Field("client", session.client)
                .Field("user", name);
            return Answer(
                Tagged(tag, "OK", "[CAPABILITY " + session.Capabilities() + "] Logged in"));
        }
    }
    ++session.failedLogins;
    log::Event(log::Severity::Warning, "login-failed")
        .Field("session", session.id)
        .Field("client", session.client)
        .Field("user", name)
        .Field("reason", password.empty() ? "empty password" : "wrong user name or password");
    auto output = Answer(Tagged(tag, "NO", "[AUTHENTICATIONFAILED] Wrong user name or password"));
    output.delay = session.settings.failedLoginDelay;
    if (session.failedLogins >= session.settings.maxFailedLogins) {
        output.bytes += Bye("Too many failed logins");
        output.close = true;
        output.ending = "too-many-failed-logins";
        session.state = SessionState::Logout;
    }
    return output;
}

// RFC 5530's answer to a password offered where it would cross the network in clear.
Output PrivacyRequired(const std::string& tag) {
    return Answer(Tagged(tag, "NO", "[PRIVACYREQUIRED] Log in after STARTTLS"));
}

} // namespace

Output Login(SessionContext& session, const Command& command) {
    if (!session.LoginAllowed())
        return PrivacyRequired(command.tag);
    const auto& args = command.arguments;
    if (args.size() != 2 || !args[0].IsAString() || !args[1].IsAString())
        return Answer(Tagged(command.tag, "BAD", "LOGIN needs a user name and a password"));
    return LoginWith(session, command.tag, args[0].text, args[1].text);
}

Output Authenticate(SessionContext& session, const Command& command) {
    const auto& args = command.arguments;
    if (args.empty() || args.size() > 2 || !args[0].IsAtom())
        return Answer(Tagged(command.tag, "BAD", "AUTHENTICATE needs a mechanism"));
    if (!session.LoginAllowed())
        return PrivacyRequired(command.tag);
    if (AsciiUpper(args[0].text) != "PLAIN")
        return Answer(Tagged(command.tag, "NO", "Only the PLAIN mechanism is supported"));
    if (args.size() == 2) {
        if (!args[1].IsAtom())
            return Answer(Tagged(command.tag, "BAD", "The initial response must be base64"));
        session.authenticating = command.tag;
        return ContinueAuthentication(session, args[1].text);
    }
    session.authenticating = command.tag;
    return Answer("+ \r\n");
}

Output ContinueAuthentication(SessionContext& session, std::string_view line) {
    const auto tag = *session.authenticating;
    session.authenticating.reset();
    if (line == "*")
        return Answer(Tagged(tag, "BAD", "AUTHENTICATE cancelled"));
    const auto response = login::DecodePlainResponse(line);
    using Fault = login::PlainResponse::Fault;
    if (response.fault == Fault::NotBase64)
        return Answer(Tagged(tag, "BAD", "The response is not base64"));
    if (response.fault == Fault::NotThreeParts)
        return Answer(Tagged(tag, "BAD", "A PLAIN response is authzid NUL authcid NUL password"));
    if (!response.authzid.empty() && response.authzid != response.authcid)
        return Answer(
            Tagged(tag, "NO", "[AUTHORIZATIONFAILED] Acting as another user is not allowed"));
    return LoginWith(session, tag, response.authcid, response.password);
}

} // namespace server::imap
