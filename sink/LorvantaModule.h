#pragma once

// The work of the store event sink: stamping a delivered message with the address under which it
// reached its owner. None of these functions ever fails towards its caller.

#include "platform/store/StoreEvents.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace lorvanta {

// Stamps the item of a begin-phase save: the first header recipient that is one of the mailbox
// owner's SMTP addresses becomes its account name (if that is blank) and is added to its keywords.
// Returns whether the save may go on, which is always true.
bool StampMessage(platform::store::IExStoreEventInfo* pEventInfo, const std::string& bstrURLItem,
                  std::int32_t lFlags);

// The recipients of a message, from its transport header block (lines end in CR LF): the value of
// an X-RecipientList header if one has a value, otherwise the bare addresses of the To and Cc
// headers. Entries are separated by ",".
std::string GetHeaderRecipients(std::string_view headerText);

// Reduces each "," separated entry to its bare address; entries without "@" are dropped.
std::string CleanAddressList(std::string_view addressList);

// The mailbox segment of an item URL: the segment two before the item's own name. The whole URL
// when it has too few separators.
std::string GetMailboxName(std::string_view itemUrl);

// The SMTP proxy addresses, without their prefix and separated by ",", of the directory entries
// whose mail address begins with the mailbox name followed by "@" and that have a mailbox on this
// server.
std::string GetOwnerAddresses(const std::string& mailboxName);

// The directory query that GetOwnerAddresses runs for a mailbox in a forest. With an empty
// computer name (it could not be read) any entry with a mailbox qualifies.
std::string OwnerAddressQuery(const std::string& forestDnsName, const std::string& mailboxName,
                              const std::string& computerName);

} // namespace lorvanta
