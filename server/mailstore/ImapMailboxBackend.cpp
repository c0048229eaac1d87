// Serves IMAP sessions from the store: logs users in through the directory, lists their folders and
// messages, and saves flag changes as ordinary saves so that the registered sinks see them.

#include "server/mailstore/ImapMailboxBackend.h"

#include "server/imap/ImapMessage.h"
#include "server/imap/ImapWire.h"

#include "platform/core/Error.h"
#include "platform/core/Text.h"
#include "platform/store/Delivery.h"
#include "platform/store/PropertyNames.h"
#include "platform/store/Store.h"
#include "platform/store/StoreErrors.h"

namespace server::mailstore {

namespace {

namespace store = platform::store;

constexpr std::size_t kCachePerSessionKiB = 256;

struct FlagProperty {
    imap::SystemFlag flag;
    const std::string& name;
};
const FlagProperty kFlagProperties[] = {{imap::kSeen, store::kRead},
                                        {imap::kAnswered, store::kAnswered},
                                        {imap::kFlagged, store::kFlagged},
                                        {imap::kDeleted, store::kDeletedMark},
                                        {imap::kDraft, store::kDraft}};

std::string TextOf(const store::PropertyMap& properties, const std::string& name) {
    auto found = properties.find(name);
    return found != properties.end() && found->second.IsText() ? found->second.Text()
                                                               : std::string();
}

bool IsMessage(const store::PropertyMap& properties) {
    return platform::text::EqualsIgnoreCase(TextOf(properties, store::kContentClass),
                                            store::kMessageClass);
}

} // namespace

std::string MessageBytes(const std::string& header, const std::string& body) {
    return header + "\r\n" + body;
}

std::optional<std::string> DirectoryLoginCheck::Check(const std::string& name,
                                                      const std::string& password) {
    const auto user = login_.Check(name, password);
    if (!user)
        return std::nullopt;
    return user->alias;
}

std::shared_ptr<const imap::FolderSnapshot> FolderCache::Find(const std::string& folderKey,
                                                              std::int64_t changes) {
    std::lock_guard lock(mutex_);
    auto found = entries_.find(folderKey);
    if (found == entries_.end() || found->second.changes != changes)
        return nullptr;
    return found->second.snapshot;
}

void FolderCache::Keep(const std::string& folderKey, std::int64_t changes,
                       std::shared_ptr<const imap::FolderSnapshot> snapshot) {
    std::lock_guard lock(mutex_);
    entries_[folderKey] = {changes, std::move(snapshot)};
}

ImapMailboxBackend::ImapMailboxBackend(platform::host::ServerFolder folder,
                                       std::shared_ptr<LoginCheck> logins,
                                       std::shared_ptr<FolderCache> cache)
    : folder_(std::move(folder)), logins_(std::move(logins)), cache_(std::move(cache)) {
}

ImapMailboxBackend::~ImapMailboxBackend() = default;

imap::LoginOutcome ImapMailboxBackend::Login(const std::string& name, const std::string& password) {
    const auto alias = logins_->Check(name, password);
    if (!alias)
        return imap::LoginOutcome::Refused;
    if (!store_) {
        store_ = store::Store::Open(folder_);
        // Every session has a store of its own, and reads each message once: a large cache
        // per session would only hold a hundred sessions' worth of message bodies.
        store_->LimitCache(kCachePerSessionKiB);
    }
    const auto url = store::MailboxBaseUrl(store::UrlForm::File, "",
                                           folder_.ReadMachineNames().domainDnsName, *alias);
    try {
        store_->Locate(url);
    } catch (const platform::Error& failure) {
        if (failure.Number() == store::hr::DB_E_NOTFOUND)
            return imap::LoginOutcome::Refused; // no mailbox of that name here
        throw;
    }
    mailboxUrl_ = url;
    return imap::LoginOutcome::Accepted;
}

std::string ImapMailboxBackend::FolderUrl(const std::string& folder) const {
    return mailboxUrl_ + "/" + folder;
}

std::vector<std::string> ImapMailboxBackend::Folders() {
    return store_->FolderPaths(store_->Locate(mailboxUrl_));
}

std::shared_ptr<const imap::FolderSnapshot> ImapMailboxBackend::Open(const std::string& folder) {
    const auto location = store_->Locate(FolderUrl(folder));
    const auto item = store_->Find(location);
    if (!item || !item->isFolder)
        return nullptr;
    // The count is read before the items: a change in between only makes the next look read
    // them again.
    const auto current = store_->NumbersOf(location);
    if (auto cached = cache_->Find(location.key, current.changes))
        return cached;
    store::FolderNumbers numbers;
    std::set<std::string> names = {store::kContentClass, store::kTransportMessageHeaders,
                                   store::kKeywords};
    for (const auto& entry : kFlagProperties)
        names.insert(entry.name);
    // The body is only needed for its size here.
    const auto items = store_->NumberedItems(location, numbers, names, {store::kTextDescription});
    auto made = std::make_shared<imap::FolderSnapshot>();
    auto& snapshot = *made;
    snapshot.uidValidity = static_cast<std::uint32_t>(numbers.validity);
    snapshot.uidNext = static_cast<std::uint32_t>(numbers.next);
    snapshot.messages.reserve(items.size());
    for (const auto& numbered : items) {
        const auto& properties = numbered.item.properties;
        if (!IsMessage(properties))
            continue;
        imap::MessageSummary summary;
        summary.uid = static_cast<std::uint32_t>(numbered.number);
        summary.internalDate = numbered.received;
        summary.header = TextOf(properties, store::kTransportMessageHeaders) + "\r\n";
        const auto body = numbered.sizes.find(store::kTextDescription);
        summary.size = summary.header.size() +
                       static_cast<std::uint64_t>(body == numbered.sizes.end() ? 0 : body->second);
        for (const auto& entry : kFlagProperties) {
            auto found = properties.find(entry.name);
            if (found != properties.end() && found->second.IsBool() && found->second.Bool())
                summary.flags |= entry.flag;
        }
        if (auto keywords = properties.find(store::kKeywords); keywords != properties.end()) {
            if (keywords->second.IsArray())
                summary.keywords = keywords->second.Array();
            else if (keywords->second.IsText())
                summary.keywords = {keywords->second.Text()};
        }
        // Made once per change of the folder, for every session that fetches it.
        summary.envelope = std::make_shared<const std::string>(imap::Envelope(summary.header));
        snapshot.messages.push_back(std::move(summary));
    }
    std::shared_ptr<const imap::FolderSnapshot> kept = std::move(made);
    cache_->Keep(location.key, current.changes, kept);
    return kept;
}

std::optional<std::string> ImapMailboxBackend::MessageUrl(const std::string& folder,
                                                          std::uint32_t uid) {
    const auto location = store_->Locate(FolderUrl(folder));
    const auto key = store_->KeyOfNumber(location.key, uid);
    if (!key)
        return std::nullopt;
    return store_->UrlOf(*key, location.url);
}

std::optional<std::string> ImapMailboxBackend::Message(const std::string& folder,
                                                       std::uint32_t uid) {
    const auto url = MessageUrl(folder, uid);
    if (!url)
        return std::nullopt;
    const auto item = store_->Find(store_->Locate(*url));
    if (!item)
        return std::nullopt;
    return MessageBytes(TextOf(item->properties, store::kTransportMessageHeaders),
                        TextOf(item->properties, store::kTextDescription));
}

bool ImapMailboxBackend::SetFlags(const std::string& folder, std::uint32_t uid, unsigned flags,
                                  const std::vector<std::string>& keywords) {
    const auto url = MessageUrl(folder, uid);
    if (!url)
        return false;
    const auto location = store_->Locate(*url);
    const auto item = store_->Find(location);
    if (!item)
        return false;
    store::PendingSave save;
    save.location = location;
    save.properties = item->properties;
    for (const auto& entry : kFlagProperties)
        save.Set(entry.name, flags & entry.flag ? platform::Variant(true) : platform::Variant());
    save.Set(store::kKeywords,
             keywords.empty() ? platform::Variant() : platform::Variant(keywords));
    store_->Save(save);
    return true;
}

void ImapMailboxBackend::Remove(const std::string& folder, const std::vector<std::uint32_t>& uids) {
    for (const auto uid : uids)
        if (const auto url = MessageUrl(folder, uid))
            store_->Delete(*url);
}

} // namespace server::mailstore
