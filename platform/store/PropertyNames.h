#pragma once

#include <string>

namespace platform::store {

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
// The namespace of the event registration properties.
inline const std::string kEventNamespace = kSchemaRoot + "exchange/events/";

} // namespace platform::store
