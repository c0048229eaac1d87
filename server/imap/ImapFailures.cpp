// Failures of a session's steps, in the log and in what the client is told.

#include "server/imap/ImapFailures.h"

#include "server/log/LogId.h"
#include "server/log/ServerLog.h"

#include "platform/core/Error.h"

namespace server::imap {

std::string FailureDetail(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const platform::Error& error) {
        return platform::FailureNumberText(error.Number()) + " " + error.Description();
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return "an exception of unknown type";
    }
}

std::string LogFailure(const FailedStep& step, std::string_view detail) {
    auto id = log::NewId();
    log::Event event(log::Severity::Error, "failure");
    event.Field("session", step.session).Field("client", step.client);
    if (!step.user.empty())
        event.Field("user", step.user);
    event.Field("step", step.step).Field("id", id).Field("detail", detail);
    return id;
}

std::string FailureText(std::string_view id) {
    return "[UNAVAILABLE] Internal error, id " + std::string(id);
}

} // namespace server::imap
