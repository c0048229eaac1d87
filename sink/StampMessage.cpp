// Stamps a delivered message with the owner address it was sent to: reads its headers and
// recipients, looks up the owner's addresses, and writes the account name and keywords.

#include "sink/LorvantaModule.h"

#include "platform/core/Text.h"
#include "platform/store/EventFlags.h"
#include "platform/store/PropertyNames.h"

#include <optional>

namespace lorvanta {

namespace {

namespace store = platform::store;
namespace text = platform::text;
using platform::Variant;
using platform::ado::Record;

std::shared_ptr<Record> GetEventRecord(store::IExStoreEventInfo* pEventInfo) {
    std::shared_ptr<Record> record;
    try {
        auto info = platform::com::ComPtr<store::IExStoreEventInfo>(pEventInfo);
        auto dispInfo = info.As<store::IExStoreDispEventInfo>(store::IID_IExStoreDispEventInfo);
        if (dispInfo && platform::com::FAILED(dispInfo->get_EventRecord(&record)))
            record.reset();
    } catch (...) {
        record.reset();
    }
    return record;
}

// Reads a property; a property that cannot be read comes back empty.
Variant ReadField(Record& record, const std::string& name) {
    try {
        return record.Fields()->Item(name)->Value();
    } catch (...) {
        return {};
    }
}

void WriteField(Record& record, const std::string& name, const Variant& value) {
    try {
        record.Fields()->Item(name)->SetValue(value);
    } catch (...) {
    }
}

std::string ReadText(Record* record, const std::string& name) {
    if (!record)
        return {};
    try {
        return ReadField(*record, name).ToText();
    } catch (...) {
        return {};
    }
}

// The first recipient, in header order, that equals an owner address; the owner's form.
std::optional<std::string> FindOwnerAddress(const std::string& recipients,
                                            const std::string& owners) {
    const auto recipientEntries = text::Split(recipients, ',');
    const auto ownerEntries = text::Split(owners, ',');
    for (auto recipient : recipientEntries) {
        if (recipient.empty())
            continue;
        for (auto owner : ownerEntries) {
            if (!owner.empty() && text::EqualsIgnoreCase(recipient, owner))
                return std::string(owner);
        }
    }
    return std::nullopt;
}

// Existing keywords are folded with the address into one element: "A,B,O".
Variant::TextArray StampedKeywords(const Variant& keywords, const std::string& address) {
    if (!keywords.IsArray())
        return {address};
    std::string folded;
    for (const auto& keyword : keywords.Array()) {
        if (!text::IsBlank(keyword)) {
            folded += keyword;
            folded += ',';
        }
    }
    folded += address;
    return {folded};
}

void WriteStamp(Record& record, const std::string& address) {
    if (text::IsBlank(ReadText(&record, store::kInternetAccountName)))
        WriteField(record, store::kInternetAccountName, address);
    try {
        WriteField(record, store::kKeywords,
                   StampedKeywords(ReadField(record, store::kKeywords), address));
    } catch (...) {
    }
    try {
        record.Fields()->Update();
    } catch (...) {
    }
}

} // namespace

bool StampMessage(store::IExStoreEventInfo* pEventInfo, const std::string& bstrURLItem,
                  std::int32_t lFlags) {
    const bool result = true;
    const auto record = GetEventRecord(pEventInfo);
    if (!(lFlags & store::EVT_IS_DELIVERED) || (lFlags & store::EVT_IS_COLLECTION))
        return result;

    const auto headers = ReadText(record.get(), store::kTransportMessageHeaders);
    if (headers.empty())
        return result;
    const auto recipients = GetHeaderRecipients(headers);
    const auto mailboxName = GetMailboxName(bstrURLItem);
    const auto owners = GetOwnerAddresses(mailboxName);
    if (owners.empty())
        return result;

    std::optional<std::string> address;
    try {
        address = FindOwnerAddress(recipients, owners);
    } catch (...) {
    }
    if (address)
        WriteStamp(*record, *address);
    return result;
}

} // namespace lorvanta
