#pragma once

// A step of a session that failed (the directory down, the store failing, anything thrown): the
// client is told a generic text with an id, the log gets the detail under the same id, and only
// that step fails.

#include <exception>
#include <string>
#include <string_view>

namespace server::imap {

struct FailedStep {
    std::string_view session; // the session's id
    std::string_view client;
    std::string_view user; // empty before a login
    std::string_view step; // the command, or what the server was doing for the session
};

// What failed, for the log: a platform failure's number and description, an exception's text.
std::string FailureDetail(const std::exception_ptr& failure);

// Logs the failure with its detail and returns the id it is logged under.
std::string LogFailure(const FailedStep& step, std::string_view detail);

// "[UNAVAILABLE] Internal error, id 5F3A09C1000000A2": all a client learns of a failure.
std::string FailureText(std::string_view id);

} // namespace server::imap
