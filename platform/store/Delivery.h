#pragma once

// Delivery as the mail transport does it: an RFC 5322 message becomes a new item in a mailbox's
// Inbox, saved with the delivered flag so that the event service runs.

#include <string>

namespace platform::store {

class Store;

// Property names a delivered message carries besides the transport headers.
inline const std::string kSubject = "urn:schemas:httpmail:subject";
inline const std::string kFrom = "urn:schemas:httpmail:from";
inline const std::string kTo = "urn:schemas:httpmail:to";
inline const std::string kCc = "urn:schemas:httpmail:cc";
inline const std::string kDate = "urn:schemas:httpmail:date";
inline const std::string kTextDescription = "urn:schemas:httpmail:textdescription";
inline const std::string kMessageClass = "urn:content-class:message";

struct ParsedMessage {
    // The header block with CRLF line ends, each header line (continuations included) ending
    // in CRLF; the empty line that ends the block is not part of it.
    std::string headers;
    std::string body; // CRLF line ends
    // Unfolded values of the first Subject, From, To, Cc and Date fields ("" when absent),
    // leading blanks removed. Encoded words are left as they are.
    std::string subject, from, to, cc, date;
};

// Bare LF and bare CR become CRLF. Fails with E_INVALIDARG, naming the line, for an empty
// message, a first line that is a continuation, or a header line that is not "name: value".
ParsedMessage ParseMessage(const std::string& rfc5322);

// Saves the message as a new item (content class "urn:content-class:message") in the Inbox of
// the mailbox that `mailboxUrl` names (either URL form) and returns the item's URL in that form.
// The save carries EVT_IS_DELIVERED and EVT_NEW_ITEM; a sink's AbortChange makes it fail.
std::string DeliverMessage(Store& store, const std::string& mailboxUrl, const std::string& rfc5322);
// The same for the mailbox `alias` of a domain folder; the item's URL comes in the file form.
std::string DeliverMessage(Store& store, const std::string& domain, const std::string& alias,
                           const std::string& rfc5322);

} // namespace platform::store
