#pragma once

// Delivery as the mail transport does it: an RFC 5322 message becomes a new item in a mailbox's
// Inbox, saved with the delivered flag so that the event service runs.

#include "platform/store/PropertyNames.h"
#include "platform/store/Store.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform::store {

struct ParsedMessage {
    // The header block, each header line (continuations included) ending in CRLF; the empty
    // line that ends the block is not part of it. Empty when the message has no header fields.
    std::string headers;
    std::string body; // each line ending in CRLF
    // Unfolded values of the first Subject, From, To, Cc and Date fields ("" when absent),
    // leading blanks removed. Encoded words are left as they are.
    std::string subject, from, to, cc, date;
    // The entries of every Keywords field (RFC 5322's comma-separated phrases), unfolded,
    // trimmed of blanks and tabs, empty ones dropped, each only once (letter case ignored: the
    // first spelling stays), in order. Encoded words are left as they are.
    std::vector<std::string> keywords;
};

// Splits a message the way mail transports take it; no message is refused.
//  - Lines end at LF, with the CR before it if there is one, and are stored with CRLF. A CR that
//    is not followed by LF is no line end: it stays inside its line, so that it cannot start a
//    header field of its own. A last line without a line end is a line. Long lines stay whole.
//  - A first line that starts with "From " and is not a header field (an mbox separator) is
//    dropped.
//  - The header block is the header fields from the first line on: a field is a name of
//    printable ASCII other than ":", optionally blanks (the obsolete "To : a@b"), then ":"; a
//    line that starts with a space or tab continues the field before it. The block ends at the
//    first empty line, which belongs to neither part, or at the first line that is neither a
//    field nor a continuation, which is the first line of the body.
//  - A first line that starts with a blank continues nothing: the header block is empty and
//    the whole message, that line included, is the body. So is a message whose first line is
//    not a header field, and an empty message gives empty parts.
ParsedMessage ParseMessage(std::string_view rfc5322);

// Where ParseMessage's header block ends in a message (after its mbox separator line, if it had
// one): the one rule for every reader of a message, so that what a reader takes for the header
// is what delivery stored as the header. Lines end as ParseMessage reads them.
struct HeaderBlockBounds {
    // The header fields are the bytes before this, each line with its line end.
    std::size_t fieldsEnd = 0;
    // The body starts here: past the empty line that ended the block, if one did, else at
    // fieldsEnd.
    std::size_t bodyStart = 0;
};
HeaderBlockBounds FindHeaderBlock(std::string_view message);

// The field name of a header field line without its line end ("name:" or the obsolete
// "name :"), or nothing when the line is not a header field.
std::optional<std::string_view> HeaderFieldName(std::string_view line);

// The URL of the Inbox of the mailbox that `mailboxUrl` names (either URL form), or nothing when
// it has none (the store's system mailbox): such a mailbox cannot take mail. Fails when the URL
// names no mailbox.
std::optional<std::string> InboxOf(Store& store, const std::string& mailboxUrl);

// How the server delivering a message treats what the sender wrote.
struct DeliveryOptions {
    // Whether the message's Keywords fields become the item's keywords (categories), as some
    // mail stores take them. Off unless asked for: keywords are the owner's tags (the sink
    // stamps one), and any sender could otherwise set them.
    bool takeKeywords = false;
    // Header fields (names in any letter case) the sender wrote that are left out of the stored
    // header block, with their continuation lines: the server writes its own in their place.
    std::vector<std::string> removedFields{};
};

// One mailbox's copy of a message: the mailbox (either URL form) and the header fields the
// delivering server writes at the top of that copy's header block (trace fields such as
// Return-Path, Received, Delivered-To), each line ending in CRLF; empty for none.
struct MailboxCopy {
    // A copy without trace fields is named by its mailbox alone.
    MailboxCopy(std::string url, std::string traceFields = {})
        : mailboxUrl(std::move(url)), trace(std::move(traceFields)) {}
    std::string mailboxUrl;
    std::string trace;
};

// The new item (content class "urn:content-class:message") that delivering the message into
// the Inbox of the copy's mailbox saves, not saved yet: its transport headers are the copy's
// trace followed by ParseMessage's header block byte for byte, so what sinks read is what was
// split here, and ParseMessage of the stored header block and body gives them back. It
// carries the delivered flag; the event service adds EVT_NEW_ITEM.
PendingSave NewDelivery(Store& store, const MailboxCopy& copy, const std::string& rfc5322,
                        const DeliveryOptions& options = {});
// The same for the mailbox `alias` of a domain folder; the item's URL is in the file form.
PendingSave NewDelivery(Store& store, const std::string& domain, const std::string& alias,
                        const std::string& rfc5322, const DeliveryOptions& options = {});

// A new message item in the folder that `folderUrl` names, split as delivery splits a message
// but not delivered (what a mail client saves, as IMAP APPEND does): no trace fields, none of
// the sender's keywords, and no delivered flag, so that sinks that act on deliveries leave it
// alone. Not saved yet.
PendingSave NewMessageItem(Store& store, const std::string& folderUrl, std::string_view rfc5322);
// A new non-folder item of a name of its own in the folder that `folderUrl` names, not saved
// yet: its properties are the caller's to set (a copy of another item's).
PendingSave NewItemInFolder(Store& store, const std::string& folderUrl);

// Saves the message as a new item (content class "urn:content-class:message") in the Inbox of
// the mailbox that `mailboxUrl` names (either URL form) and returns the item's URL in that form.
// Its transport headers are ParseMessage's header block byte for byte: what sinks read is what
// was split here. The save carries EVT_IS_DELIVERED and EVT_NEW_ITEM; a sink's AbortChange
// makes it fail.
std::string DeliverMessage(Store& store, const std::string& mailboxUrl, const std::string& rfc5322,
                           const DeliveryOptions& options = {});
// The same for the mailbox `alias` of a domain folder; the item's URL comes in the file form.
std::string DeliverMessage(Store& store, const std::string& domain, const std::string& alias,
                           const std::string& rfc5322, const DeliveryOptions& options = {});

} // namespace platform::store
