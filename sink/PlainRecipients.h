#pragma once

// Recipient extraction and address cleaning read the plain way, to check the sink's one-pass
// scanner against: the block split into lines first, the To and Cc text collected whole, then
// cleaned one entry at a time (trim, find "@", cut left, cut right). Slow, but easy to check by
// eye against the rules. Used by the unit tests and the fuzz target.

#include <string>
#include <string_view>

namespace recipientmodel {

std::string PlainCleanAddressList(std::string_view list);

struct PlainReading {
    std::string recipients;
    bool fromRecipientList = false; // the value of an X-RecipientList header, not cleaned
};
PlainReading PlainHeaderRecipients(std::string_view block);

} // namespace recipientmodel
