#pragma once

// The header fields this server writes at the top of each mailbox's copy as the final delivery
// agent: Return-Path with the envelope sender (RFC 5321 section 4.4), a Received trace field,
// and Delivered-To with the envelope recipient (RFC 9228). The sink never reads them.

#include <chrono>
#include <string>
#include <vector>

namespace server::delivery {

// How a message reached this server.
struct Arrival {
    std::string sender;   // the envelope sender without angle brackets; empty for "<>"
    std::string protocol; // the Received field's "with": SMTP, ESMTP, LMTP, or "local"
    std::string helo;     // the name the client gave in HELO, EHLO or LHLO; empty when local
    std::string id{};     // names the delivery in Received and the log; a new one when empty
};

// Return-Path, Received and Delivered-To for the copy that `recipient` (the envelope address
// as the client sent it) reached, each line ending in CRLF. `host` is this server's name, `id`
// names the delivery in the server's log. Control characters and other bytes a header field
// cannot hold are replaced, so that nothing the client sent can start a field of its own.
std::string TraceFields(const Arrival& arrival, const std::string& host, const std::string& id,
                        const std::string& recipient, std::chrono::system_clock::time_point when);

// The Received field alone, for a message this server passes on to another MTA; "for <...>"
// only when `recipient` is not empty (a message with one recipient).
std::string ReceivedField(const Arrival& arrival, const std::string& host, const std::string& id,
                          const std::string& recipient, std::chrono::system_clock::time_point when);

// X-RecipientList with the envelope recipients that reached one mailbox, in RCPT order,
// separated by ";", ending in CRLF; control characters replaced as in TraceFields.
std::string RecipientListField(const std::vector<std::string>& recipients);

} // namespace server::delivery
