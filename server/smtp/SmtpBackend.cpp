// The text of a backend's exception, for the log.

#include "server/smtp/SmtpBackend.h"

#include "platform/core/Error.h"

#include <exception>

namespace server::smtp {

std::string WhatWasThrown() {
    try {
        throw;
    } catch (const platform::Error& error) {
        return error.Description() + " (" + platform::FailureNumberText(error.Number()) + ")";
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return "an exception that is not a std::exception";
    }
}

} // namespace server::smtp
