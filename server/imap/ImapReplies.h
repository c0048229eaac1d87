#pragma once

// What a session sends back, and the lines every command answers with: tagged status lines,
// the untagged BYE and the capabilities this server offers.

#include <chrono>
#include <string>
#include <string_view>

namespace server::imap {

struct Output {
    std::string bytes;
    // Wait this long before sending the bytes (a failed login).
    std::chrono::milliseconds delay{0};
    // Close the connection once the bytes are sent; `ending` says why, for the log.
    bool close = false;
    std::string ending;

    // The session as this step left it, for the network layer, which must not look at the
    // session itself while a worker may be running it. `pending`: it holds commands already
    // received, or the rest of an answer, that it can go on with without more input.
    bool pending = false;
    // When not pending: the octets that must arrive before a step can do anything with them.
    // A client that sends a literal's line end apart (imaplib) is not given a step for the
    // literal alone.
    std::size_t awaited = 1;
    bool idling = false;
    // While idling: the change token of the folder it watches (Backend::ChangeToken).
    std::string watch;
    bool loggedIn = false;
    // STARTTLS was answered: the TLS handshake comes next, and input received before its end
    // was dropped (it came in clear).
    bool startTls = false;

    // Adds the bytes, delay and end of a later step.
    void Append(Output&& later);
};

// Output of the bytes alone: sent at once, the connection kept.
Output Answer(std::string bytes);

// "tag OK text" and its kin; control bytes of the text are shown as "?".
std::string Tagged(const std::string& tag, std::string_view status, std::string_view text);
// The untagged BYE; control bytes of the reason are shown as "?".
std::string Bye(std::string_view why);

} // namespace server::imap
