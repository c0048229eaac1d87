// Takes a message the way a mail transport does, splits its header from its body without refusing
// anything, and saves it as a new item in a mailbox's Inbox.

#include "platform/store/Delivery.h"

#include "platform/core/Error.h"
#include "platform/core/Text.h"
#include "platform/store/PropertyNames.h"
#include "platform/store/Store.h"
#include "platform/store/StoreErrors.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <random>
#include <string_view>
#include <vector>

namespace platform::store {

namespace {

// The lines of the text without their ends. A line ends at LF, with the CR before it if any; a
// CR elsewhere is part of its line. A last line without an end counts as a line.
std::vector<std::string_view> MessageLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        const bool ended = end != std::string_view::npos;
        if (!ended)
            end = text.size();
        auto line = text.substr(start, end - start);
        if (ended && !line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

bool IsFieldNameChar(char c) {
    return c >= 33 && c <= 126 && c != ':';
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// The entries of Keywords fields: split at commas, trimmed, empty ones dropped, each once. A
// sender may write a million entries: each is looked up in a set, not compared with the others.
std::vector<std::string> KeywordsOf(const std::vector<std::string>& fields) {
    std::vector<std::string> keywords;
    text::CaseInsensitiveSet known;
    for (const auto& field : fields)
        for (auto entry : text::Split(field, ',')) {
            entry = text::TrimSpacesAndTabs(entry);
            if (!entry.empty() && known.Insert(entry))
                keywords.emplace_back(entry);
        }
    return keywords;
}

// The header block without the fields named (and their continuation lines).
std::string WithoutFields(const std::string& headers, const std::vector<std::string>& names) {
    if (names.empty())
        return headers;
    std::string kept;
    bool dropping = false;
    for (std::size_t start = 0; start < headers.size();) {
        auto end = headers.find("\r\n", start);
        end = end == std::string::npos ? headers.size() : end + 2;
        const std::string_view line(headers.data() + start, end - start);
        if (!IsBlank(line.front())) {
            const auto name = HeaderFieldName(line);
            dropping = name && std::any_of(names.begin(), names.end(), [&](const auto& dropped) {
                           return text::EqualsIgnoreCase(*name, dropped);
                       });
        }
        if (!dropping)
            kept.append(line);
        start = end;
    }
    return kept;
}

// The last `count` hexadecimal digits of `value`, most significant first.
std::string HexDigits(std::uint64_t value, int count) {
    static const char* digits = "0123456789ABCDEF";
    std::string text(static_cast<std::size_t>(count), '0');
    for (int i = count - 1; i >= 0; --i, value >>= 4)
        text[static_cast<std::size_t>(i)] = digits[value & 0xF];
    return text;
}

// A name no other item of the folder has, growing with time: 13 hex digits of the time in
// microseconds, made strictly increasing within the process so that two names made here never
// meet, then 11 random ones so that names made by other processes in the same microsecond differ
// as well. Names in the order of arrival put the new items of a shared commit side by side in the
// folder's key index: one page written for the batch instead of one for every message.
std::string UniqueItemName() {
    static std::atomic<std::uint64_t> lastMicroseconds{0};
    const auto now =
        static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                       std::chrono::system_clock::now().time_since_epoch())
                                       .count());
    auto previous = lastMicroseconds.load();
    std::uint64_t microseconds = 0;
    do
        microseconds = std::max(now, previous + 1);
    while (!lastMicroseconds.compare_exchange_weak(previous, microseconds));
    static thread_local std::mt19937_64 engine{std::random_device{}()};
    return HexDigits(microseconds, 13) + HexDigits(engine(), 11) + ".EML";
}

} // namespace

std::optional<std::string_view> HeaderFieldName(std::string_view line) {
    std::size_t end = 0;
    while (end < line.size() && IsFieldNameChar(line[end]))
        ++end;
    if (end == 0)
        return std::nullopt;
    auto colon = end;
    while (colon < line.size() && IsBlank(line[colon]))
        ++colon;
    if (colon == line.size() || line[colon] != ':')
        return std::nullopt;
    return line.substr(0, end);
}

HeaderBlockBounds FindHeaderBlock(std::string_view message) {
    bool inField = false;
    for (std::size_t start = 0; start < message.size();) {
        const auto end = message.find('\n', start);
        const auto next = end == std::string_view::npos ? message.size() : end + 1;
        auto line = message.substr(start, next - start);
        if (line.ends_with('\n'))
            line.remove_suffix(line.ends_with("\r\n") ? 2 : 1);
        if (line.empty())
            return {start, next}; // the empty line belongs to neither part
        // A blank first character continues the field before it, if there is one.
        if (IsBlank(line[0]) ? !inField : !HeaderFieldName(line))
            return {start, start};
        inField = true;
        start = next;
    }
    return {message.size(), message.size()};
}

ParsedMessage ParseMessage(std::string_view rfc5322) {
    std::string_view text = rfc5322;
    const auto firstLine = text.substr(0, text.find('\n'));
    if (firstLine.starts_with("From ") && !HeaderFieldName(firstLine))
        text.remove_prefix(std::min(text.size(), firstLine.size() + 1)); // an mbox separator line
    const auto block = FindHeaderBlock(text);
    ParsedMessage message;
    std::vector<std::string> keywordFields;
    std::string* current = nullptr; // the value being unfolded, if it is one that is extracted
    for (const auto line : MessageLines(text.substr(0, block.fieldsEnd))) {
        if (!IsBlank(line[0])) {
            const auto name = *HeaderFieldName(line);
            current = nullptr;
            for (auto [field, slot] :
                 {std::pair{"Subject", &message.subject}, std::pair{"From", &message.from},
                  std::pair{"To", &message.to}, std::pair{"Cc", &message.cc},
                  std::pair{"Date", &message.date}})
                if (slot->empty() && text::EqualsIgnoreCase(name, field)) {
                    current = slot;
                    *current = line.substr(line.find(':') + 1);
                }
            if (text::EqualsIgnoreCase(name, "Keywords")) {
                current = &keywordFields.emplace_back(line.substr(line.find(':') + 1));
            }
        } else if (current) {
            *current += line;
        }
        message.headers.append(line).append("\r\n");
    }
    for (auto* value : {&message.subject, &message.from, &message.to, &message.cc, &message.date}) {
        const auto first = value->find_first_not_of(" \t");
        *value = first == std::string::npos ? std::string() : value->substr(first);
    }
    // Room for the body at once: one of megabytes is not copied as it grows.
    message.body.reserve(text.size() - std::min(text.size(), block.bodyStart));
    for (const auto line : MessageLines(text.substr(block.bodyStart)))
        message.body.append(line).append("\r\n");
    message.keywords = KeywordsOf(keywordFields);
    return message;
}

std::optional<std::string> InboxOf(Store& store, const std::string& mailboxUrl) {
    const auto mailbox = store.Locate(mailboxUrl);
    if (!mailbox.IsMailboxRoot())
        throw Error(platform::hr::E_INVALIDARG, "\"" + mailboxUrl + "\" is not a mailbox URL");
    const auto root = store.Read(mailbox);
    const auto inbox = root.properties.find(kInboxProperty);
    if (inbox == root.properties.end() || !inbox->second.IsText())
        return std::nullopt;
    return inbox->second.Text();
}

namespace {

// The properties of a message item: its header block as given, and what is read from it.
// The body moves into the item: a message of megabytes is not held twice until the save.
void SetMessageProperties(PendingSave& save, ParsedMessage& message, std::string headers) {
    save.Set(kContentClass, Variant(kMessageClass));
    save.Set(kTransportMessageHeaders, Variant(std::move(headers)));
    save.Set(kSubject, Variant(message.subject));
    save.Set(kFrom, Variant(message.from));
    save.Set(kTo, Variant(message.to));
    if (!message.cc.empty())
        save.Set(kCc, Variant(message.cc));
    if (!message.date.empty())
        save.Set(kDate, Variant(message.date));
    save.Set(kTextDescription, Variant(std::move(message.body)));
}

} // namespace

PendingSave NewDelivery(Store& store, const MailboxCopy& copy, const std::string& rfc5322,
                        const DeliveryOptions& options) {
    const auto& mailboxUrl = copy.mailboxUrl;
    auto message = ParseMessage(rfc5322);
    PendingSave save;
    // The lookups in one read: on a store that other connections write to, each alone could
    // find the connection's page cache dropped and read its pages again.
    store.ReadTogether([&] {
        const auto inbox = InboxOf(store, mailboxUrl);
        if (!inbox)
            throw Error(hr::DB_E_NOTFOUND, "The mailbox \"" + mailboxUrl + "\" has no Inbox");
        save = store.NewItem(store.Locate(*inbox + "/" + UniqueItemName()));
    });
    save.delivered = true;
    SetMessageProperties(save, message,
                         copy.trace + WithoutFields(message.headers, options.removedFields));
    // Set before the save runs the begin phase, so that a sink sees the sender's keywords.
    if (options.takeKeywords && !message.keywords.empty())
        save.Set(kKeywords, Variant(message.keywords));
    return save;
}

PendingSave NewItemInFolder(Store& store, const std::string& folderUrl) {
    return store.NewItem(store.Locate(folderUrl + "/" + UniqueItemName()));
}

PendingSave NewMessageItem(Store& store, const std::string& folderUrl, std::string_view rfc5322) {
    auto message = ParseMessage(rfc5322);
    auto save = NewItemInFolder(store, folderUrl);
    SetMessageProperties(save, message, message.headers);
    return save;
}

PendingSave NewDelivery(Store& store, const std::string& domain, const std::string& alias,
                        const std::string& rfc5322, const DeliveryOptions& options) {
    return NewDelivery(store, {MailboxBaseUrl(UrlForm::File, "", domain, alias)}, rfc5322, options);
}

std::string DeliverMessage(Store& store, const std::string& mailboxUrl, const std::string& rfc5322,
                           const DeliveryOptions& options) {
    auto save = NewDelivery(store, {mailboxUrl}, rfc5322, options);
    store.Save(save);
    return save.location.Url();
}

std::string DeliverMessage(Store& store, const std::string& domain, const std::string& alias,
                           const std::string& rfc5322, const DeliveryOptions& options) {
    return DeliverMessage(store, MailboxBaseUrl(UrlForm::File, "", domain, alias), rfc5322,
                          options);
}

} // namespace platform::store
