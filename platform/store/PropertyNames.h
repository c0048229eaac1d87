#pragma once

// The names of every property the store, the delivery and the event service read or write, in
// one place: the store's own, a delivered message's, the sink's, the mail clients' and the event
// registrations'.

#include <string>

namespace platform::store {

// Properties the store itself gives every item.
inline const std::string kDisplayName = "DAV:displayname";
inline const std::string kContentClass = "DAV:contentclass";
inline const std::string kIsHidden = "DAV:ishidden";
inline const std::string kIsFolder = "DAV:isfolder";
inline const std::string kInboxProperty = "urn:schemas:httpmail:inbox";
inline const std::string kRegistrationClass = "urn:content-class:storeeventreg";

// Properties a delivered message carries besides the transport headers.
inline const std::string kSubject = "urn:schemas:httpmail:subject";
inline const std::string kFrom = "urn:schemas:httpmail:from";
inline const std::string kTo = "urn:schemas:httpmail:to";
inline const std::string kCc = "urn:schemas:httpmail:cc";
inline const std::string kDate = "urn:schemas:httpmail:date";
inline const std::string kTextDescription = "urn:schemas:httpmail:textdescription";
inline const std::string kMessageClass = "urn:content-class:message";

// The prefix under which the store names its own properties.
inline const std::string kSchemaRoot = "http://schemas.microsoft.com/";

// PR_TRANSPORT_MESSAGE_HEADERS: the message's transport header block.
inline const std::string kTransportMessageHeaders = kSchemaRoot + "mapi/proptag/0x007D001E";
// The internet account name: named property 0x8580 of the common property set.
inline const std::string kInternetAccountName =
    kSchemaRoot + "mapi/id/{00062008-0000-0000-C000-000000000046}/0x8580";
// Keywords (categories), an array of texts.
inline const std::string kKeywords = "urn:schemas-microsoft-com:office:office#Keywords";
// Message state that mail clients set (IMAP system flags), booleans; absent means false. \Seen is
// the store's own read property.
inline const std::string kRead = "urn:schemas:httpmail:read";
inline const std::string kAnswered = "urn:schemas:imap:answered";
inline const std::string kFlagged = "urn:schemas:imap:flagged";
inline const std::string kDeletedMark = "urn:schemas:imap:deleted";
inline const std::string kDraft = "urn:schemas:imap:draft";
// On a mailbox root: the folder names its owner subscribed to (texts; absent: every folder), and
// whether the special-use folders (Sent, Drafts, ...) were made for it once.
inline const std::string kSubscriptions = "urn:schemas:imap:subscriptions";
inline const std::string kSpecialFoldersMade = "urn:schemas:imap:specialfoldersmade";
// The namespace of the event registration properties, and the properties the event service reads.
inline const std::string kEventNamespace = kSchemaRoot + "exchange/events/";
inline const std::string kEventMethodProperty = kEventNamespace + "EventMethod";
inline const std::string kSinkClassProperty = kEventNamespace + "SinkClass";
inline const std::string kMatchScopeProperty = kEventNamespace + "MatchScope";
inline const std::string kCriteriaProperty = kEventNamespace + "criteria";
inline const std::string kPriorityProperty = kEventNamespace + "priority";
inline const std::string kEnabledProperty = kEventNamespace + "enabled";

} // namespace platform::store
