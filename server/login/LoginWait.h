#pragma once

// Waiting for a login's turn (LoginThrottle.h) on a thread that may block, as the IMAP front's
// session threads do, and the log line of a try that had to wait:
//
//   login-throttled session=5F3A09C1000000A2 client=192.0.2.7 user=alice ms=2875 outcome=checked
//
// `ms` is how long the try waited; `outcome` is `checked` when its password was then checked,
// `abandoned` when the wait was cut short (connection closed, server stopping) and it was not.

#include "server/login/Interruption.h"
#include "server/login/LoginThrottle.h"

#include <chrono>
#include <string_view>

namespace server::login {

struct LoginTry {
    std::string_view session; // the front's session id; may be empty
    std::string_view client;  // as LoginThrottle::Try takes it
    std::string_view user;    // the login name as the client gave it
};

// Asks the throttle, and again after each wait it names, until the try may be checked; true
// then. False when the wait was cut short: the password must not be checked.
bool AwaitLoginTurn(LoginThrottle& throttle, const LoginTry& login, Interruption& interruption);

// The log line of a try that waited `waited` before it was checked (or abandoned).
void LogThrottledTry(const LoginTry& login, std::chrono::milliseconds waited, bool checked);

} // namespace server::login
