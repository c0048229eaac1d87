// Writes the trace fields of a delivered copy: Return-Path, Received and Delivered-To.

#include "server/delivery/TraceFields.h"

#include "server/message/MessageDate.h"

namespace server::delivery {

namespace {

// The text with every control character (CR and LF included) made "?": what a client sent
// stays inside the one field it is written into.
std::string FieldSafe(const std::string& text) {
    std::string safe = text;
    for (auto& c : safe)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return safe;
}

} // namespace

std::string ReceivedField(const Arrival& arrival, const std::string& host, const std::string& id,
                          const std::string& recipient,
                          std::chrono::system_clock::time_point when) {
    std::string field = "Received: ";
    if (!arrival.helo.empty())
        field += "from " + FieldSafe(arrival.helo) + "\r\n\t";
    field += "by " + host + " with " + arrival.protocol + " id " + id;
    field += recipient.empty() ? ";" : "\r\n\tfor <" + FieldSafe(recipient) + ">;";
    return field + " " + message::FormatMessageDate(std::chrono::system_clock::to_time_t(when)) +
           "\r\n";
}

std::string TraceFields(const Arrival& arrival, const std::string& host, const std::string& id,
                        const std::string& recipient, std::chrono::system_clock::time_point when) {
    return "Return-Path: <" + FieldSafe(arrival.sender) + ">\r\n" +
           ReceivedField(arrival, host, id, recipient, when) +
           "Delivered-To: " + FieldSafe(recipient) + "\r\n";
}

std::string RecipientListField(const std::vector<std::string>& recipients) {
    std::string field = "X-RecipientList: ";
    for (std::size_t i = 0; i < recipients.size(); ++i)
        field += (i ? ";" : "") + FieldSafe(recipients[i]);
    return field + "\r\n";
}

} // namespace server::delivery
