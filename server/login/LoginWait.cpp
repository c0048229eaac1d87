#include "server/login/LoginWait.h"

#include "server/log/ServerLog.h"

namespace server::login {

bool AwaitLoginTurn(LoginThrottle& throttle, const LoginTry& login, Interruption& interruption) {
    using std::chrono::steady_clock;
    const auto started = steady_clock::now();
    bool waited = false;
    const auto done = [&](bool checked) {
        if (waited)
            LogThrottledTry(login,
                            std::chrono::duration_cast<std::chrono::milliseconds>(
                                steady_clock::now() - started),
                            checked);
        return checked;
    };
    for (;;) {
        if (interruption.Interrupted())
            return done(false);
        const auto turn = throttle.Try(login.client, login.user);
        if (turn.now)
            return done(true);
        waited = true;
        if (!interruption.SleepFor(turn.wait))
            return done(false);
    }
}

void LogThrottledTry(const LoginTry& login, std::chrono::milliseconds waited, bool checked) {
    log::Event event(log::Severity::Warning, "login-throttled");
    if (!login.session.empty())
        event.Field("session", login.session);
    event.Field("client", login.client)
        .Field("user", login.user)
        .Field("ms", static_cast<std::int64_t>(waited.count()))
        .Field("outcome", checked ? "checked" : "abandoned");
}

} // namespace server::login
