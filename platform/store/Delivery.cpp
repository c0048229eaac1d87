#include "platform/store/Delivery.h"

#include "platform/core/Error.h"
#include "platform/core/Text.h"
#include "platform/store/PropertyNames.h"
#include "platform/store/Store.h"
#include "platform/store/StoreErrors.h"

#include <algorithm>
#include <random>

namespace platform::store {

namespace {

[[noreturn]] void Malformed(const std::string& why) {
    throw Error(platform::hr::E_INVALIDARG, "The message is malformed: " + why);
}

std::vector<std::string> CrlfLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(std::move(line));
            line.clear();
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            line += c;
        }
    }
    if (!line.empty())
        lines.push_back(std::move(line));
    return lines;
}

bool IsFieldNameChar(char c) {
    return c >= 33 && c <= 126 && c != ':';
}

std::string UniqueItemName() {
    static thread_local std::mt19937_64 engine{std::random_device{}()};
    static const char* digits = "0123456789ABCDEF";
    std::string name;
    auto value = engine();
    for (int i = 0; i < 16; ++i, value >>= 4)
        name += digits[value & 0xF];
    return name + ".EML";
}

} // namespace

ParsedMessage ParseMessage(const std::string& rfc5322) {
    const auto lines = CrlfLines(rfc5322);
    if (lines.empty() || lines.front().empty())
        Malformed("it has no header fields");
    ParsedMessage message;
    std::string* current = nullptr;
    std::size_t index = 0;
    for (; index < lines.size(); ++index) {
        const auto& line = lines[index];
        if (line.empty())
            break;
        const auto number = std::to_string(index + 1);
        if (line[0] == ' ' || line[0] == '\t') {
            if (index == 0)
                Malformed("line 1 continues a header field that does not exist");
            if (current)
                *current += line;
        } else {
            const auto colon = line.find(':');
            if (colon == std::string::npos || colon == 0 ||
                !std::all_of(line.begin(), line.begin() + static_cast<long>(colon),
                             IsFieldNameChar))
                Malformed("line " + number + " is not a header field: \"" + line.substr(0, 60) +
                          "\"");
            const auto name = std::string_view(line).substr(0, colon);
            current = nullptr;
            for (auto [field, slot] :
                 {std::pair{"Subject", &message.subject}, std::pair{"From", &message.from},
                  std::pair{"To", &message.to}, std::pair{"Cc", &message.cc},
                  std::pair{"Date", &message.date}})
                if (text::EqualsIgnoreCase(name, field) && slot->empty()) {
                    current = slot;
                    *current = line.substr(colon + 1);
                }
        }
        message.headers += line + "\r\n";
    }
    for (auto* value : {&message.subject, &message.from, &message.to, &message.cc, &message.date}) {
        const auto first = value->find_first_not_of(" \t");
        *value = first == std::string::npos ? std::string() : value->substr(first);
    }
    for (++index; index < lines.size(); ++index)
        message.body += lines[index] + "\r\n";
    return message;
}

std::string DeliverMessage(Store& store, const std::string& mailboxUrl,
                           const std::string& rfc5322) {
    const auto message = ParseMessage(rfc5322);
    const auto mailbox = store.Locate(mailboxUrl);
    if (!mailbox.IsMailboxRoot())
        throw Error(platform::hr::E_INVALIDARG, "\"" + mailboxUrl + "\" is not a mailbox URL");
    const auto root = store.Read(mailbox);
    auto inbox = root.properties.find(kInboxProperty);
    if (inbox == root.properties.end() || !inbox->second.IsText())
        throw Error(hr::DB_E_NOTFOUND, "The mailbox \"" + mailboxUrl + "\" has no Inbox");
    const auto location = store.Locate(inbox->second.Text() + "/" + UniqueItemName());

    auto save = store.NewItem(location);
    save.delivered = true;
    save.Set(kContentClass, Variant(kMessageClass));
    save.Set(kTransportMessageHeaders, Variant(message.headers));
    save.Set(kSubject, Variant(message.subject));
    save.Set(kFrom, Variant(message.from));
    save.Set(kTo, Variant(message.to));
    if (!message.cc.empty())
        save.Set(kCc, Variant(message.cc));
    if (!message.date.empty())
        save.Set(kDate, Variant(message.date));
    save.Set(kTextDescription, Variant(message.body));
    store.Save(save);
    return location.Url();
}

std::string DeliverMessage(Store& store, const std::string& domain, const std::string& alias,
                           const std::string& rfc5322) {
    return DeliverMessage(store, MailboxBaseUrl(UrlForm::File, "", domain, alias), rfc5322);
}

} // namespace platform::store
