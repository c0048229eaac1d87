// Serves IMAP sessions from the store: logs users in through the directory, lists their folders and
// messages, and saves flag changes as ordinary saves so that the registered sinks see them.

#include "server/mailstore/ImapMailboxBackend.h"

#include "server/imap/ImapMessage.h"
#include "server/imap/ImapSessionContext.h"
#include "server/imap/ImapWire.h"
#include "server/mailstore/DefaultFolders.h"

#include "platform/core/Error.h"
#include "platform/core/Text.h"
#include "platform/store/Delivery.h"
#include "platform/store/FolderChanges.h"
#include "platform/store/PropertyNames.h"
#include "platform/store/Store.h"
#include "platform/store/StoreErrors.h"

#include <algorithm>
#include <limits>

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

const std::string& TextOf(const store::PropertyMap& properties, const std::string& name) {
    static const std::string none;
    auto found = properties.find(name);
    return found != properties.end() && found->second.IsText() ? found->second.Text() : none;
}

// The keywords of a message as IMAP shows them: an element that holds "," (the sink folds earlier
// keywords and the address it stamps into one, "Orders,sales@example.com") stands for one
// keyword per part, so that a client can find every message stamped with an address.
std::vector<std::string> KeywordsOf(const platform::Variant& stored) {
    std::vector<std::string> elements;
    if (stored.IsArray())
        elements = stored.Array();
    else if (stored.IsText())
        elements = {stored.Text()};
    std::vector<std::string> keywords;
    platform::text::CaseInsensitiveSet seen;
    for (const auto& element : elements)
        for (const auto part : platform::text::Split(element, ',')) {
            const auto keyword = std::string(platform::text::TrimBlanks(part));
            if (!keyword.empty() && seen.Insert(keyword))
                keywords.push_back(keyword);
        }
    return keywords;
}

// The properties a copy of a message takes from it: all but the item's own name and kind.
bool TakenByCopy(const std::string& name) {
    return name != store::kDisplayName && name != store::kIsFolder && name != store::kIsHidden;
}

void SetFlagProperties(store::PendingSave& save, unsigned flags,
                       const std::vector<std::string>& keywords) {
    for (const auto& entry : kFlagProperties)
        save.Set(entry.name, flags & entry.flag ? platform::Variant(true) : platform::Variant());
    save.Set(store::kKeywords,
             keywords.empty() ? platform::Variant() : platform::Variant(keywords));
}

// IMAP's mod-sequences are the store's change counts + 1: a folder's count begins at 0, and
// RFC 7162 has no mod-sequence 0, so an empty folder's HIGHESTMODSEQ is 1 and its first
// message's 2 (a client that read 1 then asks for what changed since, and gets it).
std::uint64_t ModseqOf(std::int64_t changes) {
    return static_cast<std::uint64_t>(changes) + 1;
}

bool IsMessage(const store::PropertyMap& properties) {
    return platform::text::EqualsIgnoreCase(TextOf(properties, store::kContentClass),
                                            store::kMessageClass);
}

} // namespace

std::string MessageBytes(const std::string& header, const std::string& body) {
    std::string message;
    message.reserve(header.size() + 2 + body.size()); // one block, not three
    message += header;
    message += "\r\n";
    message += body;
    return message;
}

login::CheckedLogin DirectoryLoginCheck::Check(const std::string& name,
                                               const std::string& password) {
    return login_.Check(name, password);
}

std::size_t OctetsOf(const imap::FolderSnapshot& snapshot) {
    std::size_t octets = sizeof snapshot;
    for (const auto& message : snapshot.messages) {
        octets += sizeof message + message.header->capacity();
        if (message.envelope)
            octets += sizeof *message.envelope + message.envelope->capacity();
        for (const auto& keyword : message.keywords)
            octets += sizeof keyword + keyword.capacity();
    }
    return octets;
}

std::shared_ptr<const imap::FolderSnapshot> FolderCache::Find(const std::string& folderKey,
                                                              std::int64_t changes) {
    std::lock_guard lock(mutex_);
    auto found = entries_.find(folderKey);
    if (found == entries_.end() || found->second.changes != changes)
        return nullptr;
    uses_.splice(uses_.begin(), uses_, found->second.use);
    return found->second.snapshot;
}

void FolderCache::Keep(const std::string& folderKey, std::int64_t changes,
                       std::shared_ptr<const imap::FolderSnapshot> snapshot) {
    const auto octets = OctetsOf(*snapshot); // outside the lock: it walks the whole list
    std::lock_guard lock(mutex_);
    auto [entry, made] = entries_.try_emplace(folderKey);
    if (made) {
        uses_.push_front(folderKey);
        entry->second.use = uses_.begin();
    } else {
        held_ -= entry->second.octets;
        uses_.splice(uses_.begin(), uses_, entry->second.use);
    }
    entry->second.changes = changes;
    entry->second.snapshot = std::move(snapshot);
    entry->second.octets = octets;
    held_ += octets;
    // The one just kept stays even when it alone is over the budget: its readers need it now.
    while (held_ > budget_ && uses_.size() > 1) {
        const auto oldest = entries_.find(uses_.back());
        held_ -= oldest->second.octets;
        entries_.erase(oldest);
        uses_.pop_back();
    }
}

FolderCache::Kept FolderCache::Latest(const std::string& folderKey) {
    std::lock_guard lock(mutex_);
    auto found = entries_.find(folderKey);
    if (found == entries_.end())
        return {};
    return {found->second.changes, found->second.snapshot};
}

std::size_t FolderCache::Held() {
    std::lock_guard lock(mutex_);
    return held_;
}

ImapMailboxBackend::ImapMailboxBackend(platform::host::ServerFolder folder,
                                       std::shared_ptr<LoginCheck> logins,
                                       std::shared_ptr<FolderCache> cache)
    : folder_(std::move(folder)), logins_(std::move(logins)), cache_(std::move(cache)) {
}

ImapMailboxBackend::~ImapMailboxBackend() = default;

imap::LoginAnswer ImapMailboxBackend::Login(const std::string& name, const std::string& password) {
    const auto checked = logins_->Check(name, password);
    imap::LoginAnswer answer;
    if (checked.user)
        answer.account = checked.user->alias;
    if (!checked.accepted)
        return answer;
    if (!store_) {
        store_ = store::Store::Open(folder_);
        // Every session has a store of its own, and reads each message once: a large cache
        // per session would only hold a hundred sessions' worth of message bodies.
        store_->LimitCache(kCachePerSessionKiB);
    }
    const auto url = store::MailboxBaseUrl(
        store::UrlForm::File, "", folder_.ReadMachineNames().domainDnsName, answer.account);
    try {
        mailbox_ = store_->Locate(url);
    } catch (const platform::Error& failure) {
        if (failure.Number() == store::hr::DB_E_NOTFOUND)
            return answer; // no mailbox of that name here
        throw;
    }
    mailboxUrl_ = url;
    MakeSpecialFolders(*store_, url);
    answer.outcome = imap::LoginOutcome::Accepted;
    return answer;
}

std::string ImapMailboxBackend::FolderUrl(const std::string& folder) const {
    return mailboxUrl_ + "/" + folder;
}

std::vector<imap::FolderEntry> ImapMailboxBackend::Folders() {
    std::vector<imap::FolderEntry> folders;
    // Listed by the key found at login (every command that names a folder lists them): a
    // mailbox removed since has no folders.
    for (auto& path : store_->FolderPaths(mailbox_)) {
        auto use = SpecialUseOf(path);
        folders.push_back({std::move(path), std::move(use)});
    }
    // The Inbox first, as clients show it, the others as the store orders them.
    std::stable_partition(folders.begin(), folders.end(), [](const auto& folder) {
        const auto top = folder.path.substr(0, folder.path.find('/'));
        return platform::text::EqualsIgnoreCase(top, store::kInboxName);
    });
    return folders;
}

template <class Work> void ImapMailboxBackend::InTransaction(Work&& work) {
    // Inside another change of this backend (RENAME of the Inbox copies and removes): part of it.
    if (store_->InTransaction()) {
        work();
        return;
    }
    store_->BeginTransaction();
    try {
        work();
        store_->CommitTransaction();
    } catch (...) {
        if (store_->InTransaction())
            store_->RollbackTransaction();
        throw;
    }
}

std::optional<std::string> ImapMailboxBackend::FolderPath(const std::string& path) {
    return store_->FolderPath(store_->Locate(FolderUrl(path)));
}

bool ImapMailboxBackend::FolderExists(const std::string& path) {
    return FolderPath(path).has_value();
}

void ImapMailboxBackend::MakeParents(const std::string& path) {
    for (auto slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1))
        if (!FolderExists(path.substr(0, slash)))
            store_->CreateFolder(FolderUrl(path.substr(0, slash)));
}

imap::FolderOutcome ImapMailboxBackend::CreateFolder(const std::string& path) {
    if (FolderExists(path))
        return imap::FolderOutcome::AlreadyExists;
    InTransaction([&] {
        MakeParents(path);
        store_->CreateFolder(FolderUrl(path));
    });
    return imap::FolderOutcome::Done;
}

imap::FolderOutcome ImapMailboxBackend::DeleteFolder(const std::string& path) {
    if (!FolderExists(path))
        return imap::FolderOutcome::NoSuchFolder;
    const auto below = path + "/";
    for (const auto& other : store_->FolderPaths(mailbox_))
        if (other.size() > below.size() &&
            platform::text::EqualsIgnoreCase(other.substr(0, below.size()), below))
            return imap::FolderOutcome::HasSubfolders;
    store_->Delete(FolderUrl(path));
    return imap::FolderOutcome::Done;
}

imap::FolderOutcome ImapMailboxBackend::RenameFolder(const std::string& from,
                                                     const std::string& to) {
    if (!FolderExists(from))
        return imap::FolderOutcome::NoSuchFolder;
    // Only the letter case may change: the store takes both for one name.
    if (!platform::text::EqualsIgnoreCase(from, to) && FolderExists(to))
        return imap::FolderOutcome::AlreadyExists;
    if (!platform::text::EqualsIgnoreCase(from, store::kInboxName)) {
        InTransaction([&] {
            MakeParents(to);
            store_->RenameFolder(FolderUrl(from), FolderUrl(to));
        });
        return imap::FolderOutcome::Done;
    }
    // The Inbox stays: its messages move into the new folder.
    std::vector<std::uint32_t> uids;
    if (const auto inbox = Open(from))
        for (const auto& message : inbox->messages)
            uids.push_back(message.uid);
    InTransaction([&] {
        MakeParents(to);
        store_->CreateFolder(FolderUrl(to));
        const auto copied = Copy(from, uids, to);
        Remove(from, copied ? copied->sources : std::vector<std::uint32_t>{});
    });
    return imap::FolderOutcome::Done;
}

std::vector<std::string> ImapMailboxBackend::Subscriptions() {
    const auto root = store_->Read(store_->Locate(mailboxUrl_));
    const auto found = root.properties.find(store::kSubscriptions);
    if (found == root.properties.end())
        return {};
    if (found->second.IsArray())
        return found->second.Array();
    return found->second.IsText() ? std::vector{found->second.Text()} : std::vector<std::string>{};
}

void ImapMailboxBackend::SetSubscribed(const std::string& name, bool subscribed) {
    const auto location = store_->Locate(mailboxUrl_);
    const auto root = store_->Read(location);
    auto names = Subscriptions();
    const bool present = std::find(names.begin(), names.end(), name) != names.end();
    if (present == subscribed)
        return;
    if (subscribed)
        names.push_back(name);
    else
        std::erase(names, name);
    store::PendingSave save;
    save.location = location;
    save.isFolder = true;
    save.properties = root.properties;
    save.Set(store::kSubscriptions, names.empty() ? platform::Variant() : platform::Variant(names));
    store_->Save(save);
}

namespace {

// The properties a folder's message list is made of; the body only for its size.
const std::set<std::string>& SummaryNames() {
    static const auto names = [] {
        std::set<std::string> made = {store::kContentClass, store::kTransportMessageHeaders,
                                      store::kKeywords};
        for (const auto& entry : kFlagProperties)
            made.insert(entry.name);
        return made;
    }();
    return names;
}
const std::set<std::string> kSizeOnly = {store::kTextDescription};

// A message's place in its folder's list; nothing for an item that is no message.
std::optional<imap::MessageSummary> SummaryOf(const store::NumberedItem& numbered) {
    const auto& properties = numbered.item.properties;
    if (!IsMessage(properties))
        return std::nullopt;
    imap::MessageSummary summary;
    summary.uid = static_cast<std::uint32_t>(numbered.number);
    summary.internalDate = numbered.received;
    summary.modseq = ModseqOf(numbered.changed);
    summary.header = std::make_shared<const std::string>(
        TextOf(properties, store::kTransportMessageHeaders) + "\r\n");
    const auto body = numbered.sizes.find(store::kTextDescription);
    summary.size = summary.header->size() +
                   static_cast<std::uint64_t>(body == numbered.sizes.end() ? 0 : body->second);
    for (const auto& entry : kFlagProperties) {
        auto found = properties.find(entry.name);
        if (found != properties.end() && found->second.IsBool() && found->second.Bool())
            summary.flags |= entry.flag;
    }
    if (auto keywords = properties.find(store::kKeywords); keywords != properties.end())
        summary.keywords = KeywordsOf(keywords->second);
    // Made once per change of the message, for every session that fetches it.
    summary.envelope = std::make_shared<const std::string>(imap::Envelope(*summary.header));
    return summary;
}

std::shared_ptr<imap::FolderSnapshot> SnapshotOf(const store::FolderNumbers& numbers) {
    auto snapshot = std::make_shared<imap::FolderSnapshot>();
    snapshot->uidValidity = static_cast<std::uint32_t>(numbers.validity);
    snapshot->uidNext = static_cast<std::uint32_t>(numbers.next);
    snapshot->highestModseq = ModseqOf(numbers.changes);
    return snapshot;
}

} // namespace

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
    std::shared_ptr<const imap::FolderSnapshot> made;
    if (const auto earlier = cache_->Latest(location.key);
        earlier.snapshot && earlier.changes < current.changes)
        made = Refreshed(location, *earlier.snapshot, earlier.changes);
    if (!made) {
        store::FolderNumbers numbers;
        const auto items = store_->NumberedItems(location, numbers, SummaryNames(), kSizeOnly);
        auto snapshot = SnapshotOf(numbers);
        snapshot->messages.reserve(items.size());
        for (const auto& numbered : items)
            if (auto summary = SummaryOf(numbered))
                snapshot->messages.push_back(std::move(*summary));
        made = std::move(snapshot);
    }
    cache_->Keep(location.key, current.changes, made);
    return made;
}

std::shared_ptr<const imap::FolderSnapshot>
ImapMailboxBackend::Refreshed(const store::ItemLocation& location,
                              const imap::FolderSnapshot& earlier, std::int64_t since) {
    store::FolderNumbers numbers;
    std::vector<std::int64_t> present;
    const auto changed = store_->NumberedItemsChangedSince(location, since, numbers, present,
                                                           SummaryNames(), kSizeOnly);
    if (static_cast<std::uint32_t>(numbers.validity) != earlier.uidValidity)
        return nullptr; // another folder of that name now
    auto snapshot = SnapshotOf(numbers);
    snapshot->messages.reserve(present.size());
    auto next = changed.begin();
    auto kept = earlier.messages.begin();
    for (const auto number : present) {
        while (next != changed.end() && next->number < number)
            ++next;
        while (kept != earlier.messages.end() && kept->uid < number)
            ++kept;
        if (next != changed.end() && next->number == number) {
            if (auto summary = SummaryOf(*next))
                snapshot->messages.push_back(std::move(*summary));
        } else if (kept != earlier.messages.end() && kept->uid == number) {
            snapshot->messages.push_back(*kept); // unchanged: its header and envelope shared
        } else if (number >= earlier.uidNext) {
            // New since and yet not read as changed: the counts do not tell the whole story.
            return nullptr;
        } // else an item that is no message, as before
    }
    return snapshot;
}

std::string ImapMailboxBackend::ChangeToken(const std::string& folder) {
    return store::ChangeFileName(store_->Locate(FolderUrl(folder)).key);
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

std::vector<std::optional<std::string>>
ImapMailboxBackend::Messages(const std::string& folder, const std::vector<std::uint32_t>& uids) {
    const auto location = store_->Locate(FolderUrl(folder));
    const auto items =
        store_->TextsOfNumbers(location.key, std::vector<std::int64_t>(uids.begin(), uids.end()),
                               {store::kTransportMessageHeaders, store::kTextDescription});
    std::vector<std::optional<std::string>> messages;
    messages.reserve(items.size());
    for (const auto& texts : items)
        messages.push_back(texts ? std::optional(MessageBytes(texts->at(0), texts->at(1)))
                                 : std::nullopt);
    return messages;
}

std::optional<std::string> ImapMailboxBackend::MessageRange(const std::string& folder,
                                                            std::uint32_t uid, std::uint64_t offset,
                                                            std::uint64_t count) {
    const auto location = store_->Locate(FolderUrl(folder));
    std::optional<std::string> range;
    // The header block (small) and the body's octets asked for, as one state of the store.
    store_->ReadTogether([&] {
        const auto found =
            store_->PropertiesOfNumbers(location.key, {uid}, {store::kTransportMessageHeaders});
        if (!found.front())
            return;
        const auto header =
            MessageBytes(TextOf(*found.front(), store::kTransportMessageHeaders), "");
        range = offset < header.size() ? header.substr(offset, count) : std::string();
        // Short of `count` only when the header block has been read to its end.
        const auto taken = range->size();
        if (taken == count)
            return;
        const auto body = store_->TextRange(location.key, uid, store::kTextDescription,
                                            offset + taken - header.size(), count - taken);
        if (!body)
            range.reset();
        else
            *range += *body;
    });
    return range;
}

imap::FlagSave ImapMailboxBackend::SaveFlags(const std::string& folder, std::uint32_t uid,
                                             unsigned flags,
                                             const std::vector<std::string>& keywords,
                                             std::optional<std::uint64_t> unchangedSince) {
    using Outcome = imap::FlagSave::Outcome;
    const auto url = MessageUrl(folder, uid);
    if (!url)
        return {Outcome::Gone, 0};
    const auto location = store_->Locate(*url);
    const auto item = store_->Find(location);
    if (!item)
        return {Outcome::Gone, 0};
    store::PendingSave save;
    save.location = location;
    save.properties = item->properties;
    SetFlagProperties(save, flags, keywords);
    if (unchangedSince) {
        // Mod-sequences above the store's largest count are all "unchanged since".
        constexpr auto kLargest = std::numeric_limits<std::int64_t>::max();
        save.unchangedSince = *unchangedSince == 0 ? -1
                              : *unchangedSince > static_cast<std::uint64_t>(kLargest)
                                  ? kLargest
                                  : static_cast<std::int64_t>(*unchangedSince - 1);
    }
    try {
        store_->Save(save);
    } catch (const platform::Error& failure) {
        if (failure.Number() == store::hr::DB_E_CONCURRENCYVIOLATION)
            return {Outcome::Modified, 0};
        throw;
    }
    return {Outcome::Saved, ModseqOf(save.changedAt)};
}

std::uint32_t ImapMailboxBackend::RecentFrom(const std::string& folder, std::uint32_t uidNext,
                                             bool take) {
    const auto location = store_->Locate(FolderUrl(folder));
    const auto first =
        take ? store_->ClaimNew(location, uidNext) : store_->FirstUnclaimed(location);
    return static_cast<std::uint32_t>(std::min<std::int64_t>(first, uidNext));
}

void ImapMailboxBackend::Remove(const std::string& folder, const std::vector<std::uint32_t>& uids) {
    if (uids.empty())
        return;
    store_->DeleteItems(FolderUrl(folder), std::vector<std::int64_t>(uids.begin(), uids.end()));
}

std::optional<imap::SavedMessages>
ImapMailboxBackend::Append(const std::string& folder,
                           const std::vector<imap::NewMessage>& messages) {
    std::optional<imap::SavedMessages> saved;
    InTransaction([&] {
        // Looked up inside the transaction: one read less, and a folder deleted meanwhile by
        // another session is missing rather than a failed save.
        if (!FolderExists(folder))
            return;
        saved.emplace();
        for (const auto& message : messages) {
            auto save = store::NewMessageItem(*store_, FolderUrl(folder), message.bytes);
            SetFlagProperties(save, message.flags, message.keywords);
            save.received = message.internalDate;
            store_->Save(save);
            saved->uids.push_back(static_cast<std::uint32_t>(save.number));
        }
        saved->uidValidity = static_cast<std::uint32_t>(
            store_->NumbersOf(store_->Locate(FolderUrl(folder))).validity);
    });
    return saved;
}

std::optional<imap::SavedMessages> ImapMailboxBackend::Copy(const std::string& from,
                                                            const std::vector<std::uint32_t>& uids,
                                                            const std::string& to) {
    if (!FolderExists(to))
        return std::nullopt;
    // The dates the messages arrived, which their copies keep, and their sizes, which bound how
    // many are read at once.
    std::map<std::uint32_t, std::pair<long long, std::uint64_t>> listed;
    if (const auto source = Open(from))
        for (const auto& message : source->messages)
            listed[message.uid] = {message.internalDate, message.size};
    constexpr std::uint64_t kBatchOctets = 4 << 20;
    constexpr std::size_t kBatchMessages = 500;
    imap::SavedMessages saved;
    const auto fromKey = store_->Locate(FolderUrl(from)).key;
    const auto toUrl = FolderUrl(to);
    InTransaction([&] {
        for (std::size_t next = 0; next < uids.size();) {
            std::vector<std::int64_t> batch;
            std::uint64_t octets = 0;
            for (; next < uids.size() && batch.size() < kBatchMessages; ++next) {
                const auto entry = listed.find(uids[next]);
                const auto size = entry == listed.end() ? 0 : entry->second.second;
                if (!batch.empty() && octets + size > kBatchOctets)
                    break;
                batch.push_back(uids[next]);
                octets += size;
            }
            const auto items = store_->PropertiesOfNumbers(fromKey, batch, {});
            for (std::size_t i = 0; i < batch.size(); ++i) {
                if (!items[i])
                    continue;
                const auto uid = static_cast<std::uint32_t>(batch[i]);
                auto save = store::NewItemInFolder(*store_, toUrl);
                for (const auto& [name, value] : *items[i])
                    if (TakenByCopy(name))
                        save.Set(name, value);
                if (const auto entry = listed.find(uid); entry != listed.end())
                    save.received = entry->second.first;
                store_->Save(save);
                saved.sources.push_back(uid);
                saved.uids.push_back(static_cast<std::uint32_t>(save.number));
            }
        }
        saved.uidValidity =
            static_cast<std::uint32_t>(store_->NumbersOf(store_->Locate(toUrl)).validity);
    });
    return saved;
}

} // namespace server::mailstore
