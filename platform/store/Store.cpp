// The store on SQLite: its schema, domain folders, mailboxes, folders and items addressed by URL,
// and saves that run the event service inside savepoints.

#include "platform/store/Store.h"

#include "platform/core/JsonText.h"
#include "platform/core/Text.h"
#include "platform/host/NameRules.h"
#include "platform/host/PrivateFiles.h"
#include "platform/host/ServerFolder.h"
#include "platform/store/Database.h"
#include "platform/store/EventService.h"
#include "platform/store/FoldedName.h"
#include "platform/store/FolderChanges.h"
#include "platform/store/PropertyCodec.h"
#include "platform/store/StoreErrors.h"
#include "platform/store/StoreFormat.h"

#include <random>

namespace platform::store {

namespace {

constexpr const char* kFolderClass = "urn:content-class:folder";
constexpr const char* kMailFolderClass = "urn:content-class:mailfolder";
constexpr const char* kItemClass = "urn:content-class:item";

// The key range of everything below `key`: from key + "/" up to (not including) key + "0",
// "0" being the character after "/".
std::string BelowFirst(const std::string& key) {
    return key + "/";
}
std::string BelowEnd(const std::string& key) {
    return key + "0";
}

std::string JoinPath(const std::vector<std::string>& segments) {
    std::string path;
    for (const auto& segment : segments)
        path += (path.empty() ? "" : "/") + segment;
    return path;
}

PropertyMap BaseProperties(const std::string& name, const std::string& contentClass,
                           bool isFolder) {
    return {{kDisplayName, Variant(name)},
            {kContentClass, Variant(contentClass)},
            {kIsHidden, Variant(false)},
            {kIsFolder, Variant(isFolder)}};
}

std::string ContentClassKey(const PropertyMap& properties) {
    auto found = properties.find(kContentClass);
    return found != properties.end() && found->second.IsText() ? FoldedName(found->second.Text())
                                                               : std::string();
}

[[noreturn]] void NotFound(const std::string& what) {
    throw Error(hr::DB_E_NOTFOUND, what);
}

} // namespace

void PendingSave::Set(const std::string& name, const Variant& value) {
    if (value.IsEmpty())
        properties.erase(name);
    else
        properties[name] = value;
    changed.insert(name);
}

std::shared_ptr<Store> Store::Open(const host::ServerFolder& folder) {
    const auto names = folder.ReadMachineNames();
    return std::make_shared<Store>(folder.StoreDir(),
                                   ServerNames{names.computerName, names.domainDnsName});
}

std::shared_ptr<Store> Store::OpenFromEnvironment() {
    return Open(host::ServerFolder::FromEnvironment());
}

Store::Store(const std::filesystem::path& storeDir, ServerNames server)
    : directory_(storeDir), server_(std::move(server)) {
    std::error_code ignored;
    host::CreatePrivateFolder(directory_, ignored);
    db_ = std::make_unique<Database>(directory_ / "store.db");
    BringStoreFormatUpToDate(*db_, directory_ / "store.db");
}

void Store::LimitCache(std::size_t kibibytes) {
    std::lock_guard lock(mutex_);
    // A negative size counts kibibytes rather than pages.
    db_->Execute(("PRAGMA cache_size=-" + std::to_string(kibibytes)).c_str());
}

Store::~Store() {
    if (inTransaction_) {
        try {
            db_->Execute("ROLLBACK");
        } catch (...) {
            // A store released inside a transaction keeps nothing of it either way.
        }
    }
}

Variant Store::DecodeStored(std::int64_t kind, std::string bytes, const std::string& itemKey,
                            const std::string& name) const {
    try {
        return DecodeValue(static_cast<PropertyKind>(kind), std::move(bytes));
    } catch (const Error& damaged) {
        throw Error(damaged.Number(), "The store database " + (directory_ / "store.db").string() +
                                          " holds a damaged value of \"" + name +
                                          "\" of the item \"" + itemKey +
                                          "\": " + damaged.Description());
    }
}

const Store::Savepoint Store::kSaveSavepoint{"SAVEPOINT save", "RELEASE save",
                                             "ROLLBACK TO save; RELEASE save"};
const Store::Savepoint Store::kUndoableSavepoint{"SAVEPOINT undoable", "RELEASE undoable",
                                                 "ROLLBACK TO undoable; RELEASE undoable"};

template <class Work> void Store::InSavepoint(const Savepoint& savepoint, Work&& work) {
    db_->Run(savepoint.begin);
    try {
        work();
    } catch (...) {
        if (sqlite3_get_autocommit(db_->Handle()))
            // The database ended the whole transaction itself (a full disk or an I/O failure
            // can do so): there is nothing left to roll back to.
            inTransaction_ = false;
        else
            RollBackQuietly(savepoint.rollBack);
        throw;
    }
    db_->Run(savepoint.release);
}

template <class Work> void Store::Writing(Work&& work) {
    std::lock_guard lock(mutex_);
    if (inTransaction_) {
        InSavepoint(kSaveSavepoint, std::forward<Work>(work));
        return;
    }
    WritingHere(work);
}

void Store::WritingHere(const std::function<void()>& work) {
    if (inTransaction_)
        return work();
    RefuseWriteWhileReading();
    // IMMEDIATE takes the write lock at once, so that the busy timeout covers waiting for
    // another writer (a deferred upgrade could fail at once instead).
    db_->Run("BEGIN IMMEDIATE");
    try {
        work();
        db_->Run("COMMIT");
    } catch (...) {
        RollBackQuietly("ROLLBACK");
        changedFolders_.clear();
        throw;
    }
    SignalChanges();
}

void Store::SignalChanges() {
    SignalFolderChanges(directory_, changedFolders_);
    changedFolders_.clear();
}

void Store::RefuseWriteWhileReading() const {
    if (readingTogether_)
        throw Error(platform::hr::E_UNEXPECTED,
                    "The store cannot be written to while it reads in one transaction");
}

void Store::ReadTogether(const std::function<void()>& reads) {
    std::lock_guard lock(mutex_);
    if (inTransaction_ || readingTogether_)
        return reads();
    db_->Run("BEGIN");
    readingTogether_ = true;
    try {
        reads();
    } catch (...) {
        readingTogether_ = false;
        RollBackQuietly("ROLLBACK");
        throw;
    }
    readingTogether_ = false;
    db_->Run("COMMIT");
}

void Store::RollBackQuietly(const char* sql) {
    // The failure that made us roll back is the one to report, not a failing rollback.
    if (sqlite3_get_autocommit(db_->Handle()))
        return;
    try {
        db_->Execute(sql);
    } catch (const Error&) {
    }
}

void Store::CreateDomainFolder(const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos)
        throw Error(platform::hr::E_INVALIDARG, "\"" + name + "\" is not a domain folder name");
    Writing([&] {
        auto exists = db_->Prepared("SELECT 1 FROM domains WHERE key = ?1");
        if (exists.Bind(1, FoldedName(name)).Step())
            throw Error(hr::DB_E_RESOURCEEXISTS,
                        "The domain folder \"" + name + "\" already exists");
        db_->Prepared("INSERT INTO domains(name, key) VALUES(?1, ?2)")
            .Bind(1, name)
            .Bind(2, FoldedName(name))
            .Run();
    });
}

std::vector<std::string> Store::DomainFolders() {
    std::lock_guard lock(mutex_);
    std::vector<std::string> names;
    auto query = db_->Prepared("SELECT name FROM domains ORDER BY id");
    while (query.Step())
        names.push_back(query.Text(0));
    return names;
}

std::vector<std::string> Store::Mailboxes(const std::string& domain) {
    std::lock_guard lock(mutex_);
    std::vector<std::string> names;
    auto query = db_->Prepared("SELECT name FROM mailboxes WHERE domain_key = ?1 ORDER BY id");
    query.Bind(1, FoldedName(domain));
    while (query.Step())
        names.push_back(query.Text(0));
    return names;
}

std::optional<std::string> Store::FindMailbox(const std::string& domain, const std::string& alias) {
    std::lock_guard lock(mutex_);
    auto query = db_->Prepared("SELECT name FROM mailboxes WHERE key = ?1");
    if (!query.Bind(1, FoldedName(domain) + "/" + FoldedName(alias)).Step())
        return std::nullopt;
    return query.Text(0);
}

Store::ItemNumber Store::InsertItem(const std::string& key, const std::string& parentKey,
                                    const std::string& domain, const std::string& mailbox,
                                    const std::string& path, bool isFolder,
                                    const PropertyMap& properties,
                                    std::optional<std::int64_t> received) {
    db_->Prepared("INSERT INTO items(key, parent_key, domain, mailbox, path, is_folder, "
                  "content_class) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)")
        .Bind(1, key)
        .Bind(2, parentKey)
        .Bind(3, domain)
        .Bind(4, mailbox)
        .Bind(5, path)
        .Bind(6, std::int64_t{isFolder})
        .Bind(7, ContentClassKey(properties))
        .Run();
    const auto id = db_->LastInsertId();
    const auto numbered = isFolder ? ItemNumber{} : NumberItem(id, parentKey, received);
    std::set<std::string> names;
    for (const auto& [name, value] : properties)
        names.insert(name);
    WriteProperties(id, properties, names);
    return numbered;
}

std::string Store::CreateMailbox(const std::string& domain, const std::string& alias,
                                 UrlForm form) {
    if (const auto problem = host::MailboxNameProblem(alias)) {
        std::string quoted;
        text::AppendJsonString(quoted, alias);
        throw Error(platform::hr::E_INVALIDARG, quoted + " is not a mailbox name: it " + *problem);
    }
    std::string domainName;
    Writing([&] {
        auto findDomain = db_->Prepared("SELECT name FROM domains WHERE key = ?1");
        if (!findDomain.Bind(1, FoldedName(domain)).Step())
            NotFound("The domain folder \"" + domain + "\" does not exist");
        domainName = findDomain.Text(0);
        const auto key = FoldedName(domain) + "/" + FoldedName(alias);
        auto exists = db_->Prepared("SELECT 1 FROM mailboxes WHERE key = ?1");
        if (exists.Bind(1, key).Step())
            throw Error(hr::DB_E_RESOURCEEXISTS,
                        "The mailbox \"" + alias + "\" already exists in \"" + domain + "\"");
        const bool isSystem = text::MatchPrefixIgnoreCase(alias, "SystemMailbox{").has_value();
        db_->Prepared(
               "INSERT INTO mailboxes(domain_key, name, key, is_system) VALUES(?1, ?2, ?3, ?4)")
            .Bind(1, FoldedName(domain))
            .Bind(2, alias)
            .Bind(3, key)
            .Bind(4, std::int64_t{isSystem})
            .Run();
        auto root = BaseProperties(alias, kFolderClass, true);
        InsertItem(key, FoldedName(domain), domainName, alias, "", true, root);
        if (!isSystem) {
            InsertItem(key + "/" + FoldedName(kInboxName), key, domainName, alias, kInboxName, true,
                       BaseProperties(kInboxName, kMailFolderClass, true));
            // The Inbox link is kept relative to the mailbox, so that it reads back in the URL
            // form the mailbox was opened with.
            auto findRoot = db_->Prepared("SELECT id FROM items WHERE key = ?1");
            findRoot.Bind(1, key).Step();
            const auto id = findRoot.Integer(0);
            const auto encoded = EncodedValue{PropertyKind::MailboxLink, kInboxName};
            db_->Prepared("INSERT INTO properties(item_id, name, kind, value) "
                          "VALUES(?1, ?2, ?3, ?4)")
                .Bind(1, id)
                .Bind(2, kInboxProperty)
                .Bind(3, static_cast<std::int64_t>(encoded.kind))
                .BindBlob(4, encoded.bytes)
                .Run();
        }
    });
    return MailboxBaseUrl(form, DefaultHttpHost(server_), domainName, alias);
}

std::string Store::NewGuid() {
    static thread_local std::mt19937_64 engine{std::random_device{}()};
    std::uniform_int_distribution<unsigned> digit(0, 15);
    std::string guid;
    for (int length : {8, 4, 4, 4, 12}) {
        if (!guid.empty())
            guid += '-';
        for (int i = 0; i < length; ++i)
            guid += "0123456789ABCDEF"[digit(engine)];
    }
    return guid;
}

std::string Store::CreateSystemMailbox(const std::string& domain, UrlForm form) {
    const auto url = CreateMailbox(domain, "SystemMailbox{" + NewGuid() + "}", form);
    CreateFolder(url + "/StoreEvents");
    CreateFolder(url + "/" + kGlobalEventsPath);
    return url;
}

void Store::CreateFolder(const std::string& url) {
    const auto location = Locate(url);
    if (location.IsMailboxRoot())
        throw Error(hr::DB_E_RESOURCEEXISTS, "\"" + url + "\" is a mailbox");
    Writing([&] {
        auto parent = db_->Prepared("SELECT is_folder FROM items WHERE key = ?1");
        if (!parent.Bind(1, location.parentKey).Step() || parent.Integer(0) == 0)
            NotFound("The folder that would hold \"" + url + "\" does not exist");
        auto exists = db_->Prepared("SELECT 1 FROM items WHERE key = ?1");
        if (exists.Bind(1, location.key).Step())
            throw Error(hr::DB_E_RESOURCEEXISTS, "\"" + url + "\" already exists");
        InsertItem(location.key, location.parentKey, location.domainName, location.mailboxName,
                   JoinPath(location.url.path), true,
                   BaseProperties(location.name, kFolderClass, true));
    });
}

ItemLocation Store::Locate(const std::string& url) {
    ItemLocation location;
    location.url = ParseStoreUrl(url, server_);
    std::lock_guard lock(mutex_);
    const auto domainKey = FoldedName(location.url.domain);
    if (location.url.mailbox.empty()) {
        auto findDomain = db_->Prepared("SELECT name FROM domains WHERE key = ?1");
        if (!findDomain.Bind(1, domainKey).Step())
            NotFound("The domain folder \"" + location.url.domain + "\" of \"" + url +
                     "\" does not exist");
        location.domainName = findDomain.Text(0);
        location.key = domainKey;
        location.name = location.domainName;
        return location;
    }
    location.key = domainKey + "/" + FoldedName(location.url.mailbox);
    // Domain and mailbox in one statement: locating is the most frequent store call.
    auto find = db_->Prepared("SELECT d.name, m.name FROM domains d "
                              "LEFT JOIN mailboxes m ON m.key = ?2 WHERE d.key = ?1");
    if (!find.Bind(1, domainKey).Bind(2, location.key).Step())
        NotFound("The domain folder \"" + location.url.domain + "\" of \"" + url +
                 "\" does not exist");
    if (find.IsNull(1))
        NotFound("The mailbox \"" + location.url.mailbox + "\" of \"" + url + "\" does not exist");
    location.domainName = find.Text(0);
    location.mailboxName = find.Text(1);
    location.parentKey = domainKey;
    location.name = location.mailboxName;
    for (const auto& segment : location.url.path) {
        location.parentKey = location.key;
        location.key += "/" + FoldedName(segment);
        location.name = segment;
    }
    return location;
}

std::vector<Item> Store::LoadItems(const char* sql, const std::string& key,
                                   const ItemLocation* like) {
    std::vector<Item> items;
    auto query = db_->Prepared(sql);
    query.Bind(1, key);
    if (std::string(sql).find("?2") != std::string::npos) {
        query.Bind(2, BelowFirst(key));
        query.Bind(3, BelowEnd(key));
    }
    while (query.Step()) {
        const auto id = query.Integer(0);
        if (items.empty() || items.back().id != id) {
            Item item;
            item.id = id;
            item.key = query.Text(1);
            item.parentKey = query.Text(2);
            item.isFolder = query.Integer(3) != 0;
            items.push_back(std::move(item));
        }
        if (query.IsNull(4))
            continue;
        const auto kind = static_cast<PropertyKind>(query.Integer(5));
        auto value = DecodeStored(query.Integer(5), query.Text(6), items.back().key, query.Text(4));
        if (kind == PropertyKind::MailboxLink) {
            const auto form = like ? like->url.form : UrlForm::File;
            const auto host =
                like && !like->url.host.empty() ? like->url.host : DefaultHttpHost(server_);
            value = Variant(MailboxBaseUrl(form, host, query.Text(7), query.Text(8)) + "/" +
                            value.Text());
        }
        items.back().properties.emplace(query.Text(4), std::move(value));
    }
    return items;
}

#define ITEM_COLUMNS                                                                               \
    "SELECT i.id, i.key, i.parent_key, i.is_folder, p.name, p.kind, p.value, i.domain, i.mailbox " \
    "FROM items i LEFT JOIN properties p ON p.item_id = i.id "

std::optional<Item> Store::Find(const ItemLocation& location) {
    std::lock_guard lock(mutex_);
    auto items = LoadItems(ITEM_COLUMNS "WHERE i.key = ?1", location.key, &location);
    if (items.empty())
        return std::nullopt;
    return std::move(items.front());
}

Item Store::Read(const ItemLocation& location) {
    auto item = Find(location);
    if (!item)
        NotFound("The item \"" + location.Url() + "\" does not exist");
    return std::move(*item);
}

bool Store::Exists(const ItemLocation& location) {
    std::lock_guard lock(mutex_);
    return db_->Prepared("SELECT 1 FROM items WHERE key = ?1").Bind(1, location.key).Step();
}

std::optional<std::string> Store::FolderPath(const ItemLocation& location) {
    std::lock_guard lock(mutex_);
    auto query = db_->Prepared("SELECT path FROM items WHERE key = ?1 AND is_folder = 1");
    if (!query.Bind(1, location.key).Step())
        return std::nullopt;
    return query.Text(0);
}

std::vector<Item> Store::Children(const ItemLocation& folder, bool deep) {
    std::lock_guard lock(mutex_);
    if (deep)
        return LoadItems(ITEM_COLUMNS "WHERE i.key >= ?2 AND i.key < ?3 AND ?1 = ?1 ORDER BY i.id",
                         folder.key, &folder);
    return LoadItems(ITEM_COLUMNS "WHERE i.parent_key = ?1 ORDER BY i.id", folder.key, &folder);
}

std::vector<Item> Store::RegistrationItemsIn(const std::string& folderKey) {
    std::lock_guard lock(mutex_);
    auto items = LoadItems(ITEM_COLUMNS "WHERE i.parent_key = ?1 AND i.content_class = "
                                        "'urn:content-class:storeeventreg' ORDER BY i.id",
                           folderKey, nullptr);
    return items;
}

std::vector<std::string> Store::GlobalEventFolders() {
    std::lock_guard lock(mutex_);
    std::vector<std::string> keys;
    auto query = db_->Prepared("SELECT key FROM mailboxes WHERE is_system = 1 ORDER BY id");
    while (query.Step())
        keys.push_back(query.Text(0) + "/" + FoldedName(kGlobalEventsPath));
    return keys;
}

std::string Store::UrlOf(const std::string& key, const StoreUrl& like) {
    std::lock_guard lock(mutex_);
    auto query = db_->Prepared("SELECT domain, mailbox, path FROM items WHERE key = ?1");
    if (!query.Bind(1, key).Step())
        NotFound("No item has the key \"" + key + "\"");
    const auto host = like.host.empty() ? DefaultHttpHost(server_) : like.host;
    auto url = MailboxBaseUrl(like.form, host, query.Text(0), query.Text(1));
    const auto path = query.Text(2);
    return path.empty() ? url : url + "/" + path;
}

PendingSave Store::NewItem(const ItemLocation& location) {
    if (location.IsMailboxRoot())
        throw Error(hr::DB_E_RESOURCEEXISTS,
                    "\"" + location.Url() + "\" is a mailbox and cannot be replaced by an item");
    {
        std::lock_guard lock(mutex_);
        auto parent = db_->Prepared("SELECT is_folder FROM items WHERE key = ?1");
        if (!parent.Bind(1, location.parentKey).Step() || parent.Integer(0) == 0)
            NotFound("The folder that would hold \"" + location.Url() + "\" does not exist");
    }
    PendingSave save;
    save.location = location;
    save.isNew = true;
    for (auto& [name, value] : BaseProperties(location.name, kItemClass, false))
        save.Set(name, value);
    return save;
}

void Store::Save(PendingSave& save) {
    SaveEvents events(*this, save);
    events.Begin();
    try {
        Write(save);
    } catch (...) {
        events.Aborted();
        throw;
    }
    events.Committed();
}

void Store::Write(PendingSave& save) {
    Writing([&] {
        if (save.isNew) {
            // The folder may have gone since the save was prepared (another connection, or a
            // save whose events ran before the write).
            auto parent = db_->Prepared("SELECT 1 FROM items WHERE key = ?1 AND is_folder <> 0");
            if (!parent.Bind(1, save.location.parentKey).Step())
                NotFound("The folder that would hold \"" + save.location.Url() +
                         "\" does not exist");
            auto existing = db_->Prepared("SELECT is_folder FROM items WHERE key = ?1");
            if (existing.Bind(1, save.location.key).Step() && existing.Integer(0) != 0 &&
                !save.isFolder)
                throw Error(hr::DB_E_RESOURCEEXISTS, "\"" + save.location.Url() +
                                                         "\" is a folder and cannot be replaced "
                                                         "by an item");
            // Replacing: the old item goes with its properties.
            db_->Prepared("DELETE FROM items WHERE key = ?1").Bind(1, save.location.key).Run();
            const auto numbered =
                InsertItem(save.location.key, save.location.parentKey, save.location.domainName,
                           save.location.mailboxName, JoinPath(save.location.url.path),
                           save.isFolder, save.properties, save.received);
            save.number = numbered.number;
            save.changedAt = numbered.changed;
            return;
        }
        auto find = db_->Prepared("SELECT i.id, n.changed FROM items i "
                                  "LEFT JOIN item_numbers n ON n.item_id = i.id WHERE i.key = ?1");
        if (!find.Bind(1, save.location.key).Step())
            NotFound("The item \"" + save.location.Url() + "\" does not exist");
        const auto id = find.Integer(0);
        // Read in the write, so that no other save comes between the look and the change.
        if (save.unchangedSince && !find.IsNull(1) && find.Integer(1) > *save.unchangedSince)
            throw Error(hr::DB_E_CONCURRENCYVIOLATION, "The item \"" + save.location.Url() +
                                                           "\" has changed since " +
                                                           std::to_string(*save.unchangedSince));
        WriteProperties(id, save.properties, save.changed);
        if (const auto changes = NoteChange(save.location.parentKey)) {
            db_->Prepared("UPDATE item_numbers SET changed = ?2 WHERE item_id = ?1")
                .Bind(1, id)
                .Bind(2, *changes)
                .Run();
            save.changedAt = *changes;
        }
        if (save.changed.count(kContentClass))
            db_->Prepared("UPDATE items SET content_class = ?2 WHERE id = ?1")
                .Bind(1, id)
                .Bind(2, ContentClassKey(save.properties))
                .Run();
    });
}

void Store::WriteProperties(std::int64_t itemId, const PropertyMap& properties,
                            const std::set<std::string>& names) {
    for (const auto& name : names) {
        auto found = properties.find(name);
        if (found == properties.end() || found->second.IsEmpty()) {
            db_->Prepared("DELETE FROM properties WHERE item_id = ?1 AND name = ?2")
                .Bind(1, itemId)
                .Bind(2, name)
                .Run();
            continue;
        }
        const auto encoded = EncodeValue(found->second);
        db_->Prepared("INSERT OR REPLACE INTO properties(item_id, name, kind, value) "
                      "VALUES(?1, ?2, ?3, ?4)")
            .Bind(1, itemId)
            .Bind(2, name)
            .Bind(3, static_cast<std::int64_t>(encoded.kind))
            .BindBlob(4, encoded.bytes)
            .Run();
    }
}

PendingSave Store::DeletedItem(const ItemLocation& location, Item item) {
    PendingSave gone;
    gone.location = location;
    gone.isFolder = item.isFolder;
    gone.properties = std::move(item.properties);
    return gone;
}

void Store::Delete(const std::string& url) {
    const auto location = Locate(url);
    if (location.url.mailbox.empty())
        throw Error(platform::hr::E_INVALIDARG, "\"" + url + "\" names no item to delete");
    auto item = Find(location);
    if (!item)
        NotFound("The item \"" + url + "\" does not exist");
    auto gone = DeletedItem(location, std::move(*item));
    DeleteEvents events(*this, gone);
    events.Begin();
    try {
        Writing([&] {
            // It may have gone while the sinks ran.
            auto find = db_->Prepared("SELECT 1 FROM items WHERE key = ?1");
            if (!find.Bind(1, location.key).Step())
                NotFound("The item \"" + url + "\" does not exist");
            db_->Prepared("DELETE FROM items WHERE key = ?1 OR (key >= ?2 AND key < ?3)")
                .Bind(1, location.key)
                .Bind(2, BelowFirst(location.key))
                .Bind(3, BelowEnd(location.key))
                .Run();
            if (location.IsMailboxRoot())
                db_->Prepared("DELETE FROM mailboxes WHERE key = ?1").Bind(1, location.key).Run();
            NoteChange(location.parentKey);
            changedFolders_.insert(location.key); // a session holding it learns it has gone
        });
    } catch (...) {
        events.Aborted();
        throw;
    }
    events.Committed();
}

namespace {

// One item of a DeleteItems call: the item as its events see it, and the events.
struct DoomedItem {
    DoomedItem(Store& store, PendingSave stored, std::int64_t itemNumber)
        : item(std::move(stored)), number(itemNumber), events(store, item) {}
    PendingSave item;
    std::int64_t number;
    DeleteEvents events;
};

} // namespace

void Store::DeleteItems(const std::string& folderUrl, const std::vector<std::int64_t>& numbers) {
    const auto folder = Locate(folderUrl);
    if (folder.url.mailbox.empty())
        throw Error(platform::hr::E_INVALIDARG, "\"" + folderUrl + "\" is not a folder");
    std::vector<std::unique_ptr<DoomedItem>> doomed;
    ReadTogether([&] {
        auto isFolder = db_->Prepared("SELECT is_folder FROM items WHERE key = ?1");
        if (!isFolder.Bind(1, folder.key).Step() || isFolder.Integer(0) == 0)
            NotFound("The folder \"" + folderUrl + "\" does not exist");
        std::set<std::int64_t> seen;
        for (const auto number : numbers) {
            if (!seen.insert(number).second)
                continue;
            auto find = db_->Prepared("SELECT i.key, i.path FROM item_numbers n "
                                      "JOIN items i ON i.id = n.item_id "
                                      "WHERE n.folder_key = ?1 AND n.number = ?2");
            if (!find.Bind(1, folder.key).Bind(2, number).Step())
                continue;
            const auto key = find.Text(0);
            const auto path = find.Text(1);
            // The item's URL spells the folder as the caller did, and the item as it was made.
            auto location = folder;
            location.name = path.substr(path.rfind('/') + 1);
            location.url.path.push_back(location.name);
            location.parentKey = folder.key;
            location.key = key;
            auto items = LoadItems(ITEM_COLUMNS "WHERE i.key = ?1", key, &location);
            if (items.empty())
                continue;
            doomed.push_back(std::make_unique<DoomedItem>(
                *this, DeletedItem(location, std::move(items.front())), number));
        }
    });
    // The begin phases run outside the write, as a prepared save's do: the sinks may take their
    // time without holding the database's write lock.
    for (std::size_t begun = 0; begun < doomed.size(); ++begun) {
        try {
            doomed[begun]->events.Begin();
        } catch (...) {
            // The refusing item's events ran their aborted phase; the others begun do now.
            for (std::size_t i = 0; i < begun; ++i)
                doomed[i]->events.Aborted();
            throw;
        }
    }
    try {
        Writing([&] {
            std::int64_t deleted = 0;
            for (const auto& item : doomed) {
                // By its number, which no other item of the folder ever gets (an item's id may
                // be given again once it is gone); skipped when it went while the sinks ran.
                db_->Prepared("DELETE FROM items WHERE id = (SELECT item_id FROM item_numbers "
                              "WHERE folder_key = ?1 AND number = ?2)")
                    .Bind(1, folder.key)
                    .Bind(2, item->number)
                    .Run();
                deleted += sqlite3_changes(db_->Handle());
            }
            if (deleted > 0)
                NoteChange(folder.key, deleted);
        });
    } catch (...) {
        for (const auto& item : doomed)
            item->events.Aborted();
        throw;
    }
    for (const auto& item : doomed)
        item->events.Committed();
}

void Store::RenameFolder(const std::string& fromUrl, const std::string& toUrl) {
    const auto from = Locate(fromUrl);
    const auto to = Locate(toUrl);
    if (from.url.mailbox.empty() || from.IsMailboxRoot())
        throw Error(platform::hr::E_INVALIDARG,
                    "\"" + fromUrl + "\" is not a folder of a mailbox and cannot be renamed");
    if (to.url.mailbox.empty() || FoldedName(to.domainName) != FoldedName(from.domainName) ||
        FoldedName(to.mailboxName) != FoldedName(from.mailboxName))
        throw Error(platform::hr::E_INVALIDARG,
                    "\"" + toUrl + "\" is not in the mailbox of \"" + fromUrl + "\"");
    if (to.key.compare(0, BelowFirst(from.key).size(), BelowFirst(from.key)) == 0)
        throw Error(platform::hr::E_INVALIDARG,
                    "\"" + fromUrl + "\" cannot move below itself (\"" + toUrl + "\")");
    Writing([&] {
        auto source = db_->Prepared("SELECT id, is_folder, path FROM items WHERE key = ?1");
        if (!source.Bind(1, from.key).Step() || source.Integer(1) == 0)
            NotFound("The folder \"" + fromUrl + "\" does not exist");
        const auto id = source.Integer(0);
        // The stored spelling: the URL's may differ in letter case, and so in length.
        const auto fromPath = source.Text(2);
        if (to.key != from.key) { // else only the letter case changes
            auto exists = db_->Prepared("SELECT 1 FROM items WHERE key = ?1");
            if (exists.Bind(1, to.key).Step())
                throw Error(hr::DB_E_RESOURCEEXISTS, "\"" + toUrl + "\" already exists");
            auto parent = db_->Prepared("SELECT 1 FROM items WHERE key = ?1 AND is_folder <> 0");
            if (!parent.Bind(1, to.parentKey).Step())
                NotFound("The folder that would hold \"" + toUrl + "\" does not exist");
        }
        const auto toPath = JoinPath(to.url.path);
        // Keys and paths of the folder and everything below it get the new beginning. SQLite's
        // substr and length count characters, the same on both sides.
        db_->Prepared("UPDATE items SET key = ?4 || substr(key, length(?1) + 1), "
                      "parent_key = CASE WHEN key = ?1 THEN ?5 "
                      "ELSE ?4 || substr(parent_key, length(?1) + 1) END, "
                      "path = ?6 || substr(path, length(?7) + 1) "
                      "WHERE key = ?1 OR (key >= ?2 AND key < ?3)")
            .Bind(1, from.key)
            .Bind(2, BelowFirst(from.key))
            .Bind(3, BelowEnd(from.key))
            .Bind(4, to.key)
            .Bind(5, to.parentKey)
            .Bind(6, toPath)
            .Bind(7, fromPath)
            .Run();
        db_->Prepared(
               "UPDATE item_numbers SET folder_key = ?4 || substr(folder_key, length(?1) + 1) "
               "WHERE folder_key = ?1 OR (folder_key >= ?2 AND folder_key < ?3)")
            .Bind(1, from.key)
            .Bind(2, BelowFirst(from.key))
            .Bind(3, BelowEnd(from.key))
            .Bind(4, to.key)
            .Run();
        // The folders' numbers go with them. Those under the old names stay behind, as a deleted
        // folder's do: a folder made there later goes on from them rather than giving its first
        // items the numbers that the moved ones had. Numbers left under the new names by folders
        // deleted before give way, except that `next` never goes back: with the same validity
        // (both fixed in one second) a client would take new items for ones it knew.
        db_->Prepared(
               "INSERT INTO folder_numbers(folder_key, validity, next, changes, claimed) "
               "SELECT ?4 || substr(folder_key, length(?1) + 1), validity, next, changes + 1, "
               "claimed FROM folder_numbers "
               "WHERE folder_key = ?1 OR (folder_key >= ?2 AND folder_key < ?3) "
               "ON CONFLICT(folder_key) DO UPDATE SET validity = excluded.validity, "
               "next = max(next, excluded.next), changes = max(changes + 1, excluded.changes), "
               "claimed = excluded.claimed")
            .Bind(1, from.key)
            .Bind(2, BelowFirst(from.key))
            .Bind(3, BelowEnd(from.key))
            .Bind(4, to.key)
            .Run();
        WriteProperties(id, {{kDisplayName, Variant(to.name)}}, {kDisplayName});
        NoteChange(from.parentKey);
        if (to.parentKey != from.parentKey)
            NoteChange(to.parentKey);
        changedFolders_.insert(from.key);
        changedFolders_.insert(to.key);
    });
    // Unnumbered items (of an older store) may have come along into folders seen numbered.
    ForgetNumberedBelow(to.key);
}

void Store::BeginTransaction() {
    std::lock_guard lock(mutex_);
    if (inTransaction_)
        throw Error(hr::XACT_E_XTIONEXISTS, "A transaction is already open on this connection");
    RefuseWriteWhileReading();
    db_->Run("BEGIN IMMEDIATE");
    inTransaction_ = true;
}

void Store::RunUndoable(const std::function<void()>& work) {
    std::lock_guard lock(mutex_);
    if (!inTransaction_)
        throw Error(hr::XACT_E_NOTRANSACTION, "No transaction is open on this connection");
    InSavepoint(kUndoableSavepoint, work);
}

void Store::CommitTransaction() {
    std::lock_guard lock(mutex_);
    if (!inTransaction_)
        throw Error(hr::XACT_E_NOTRANSACTION, "No transaction is open on this connection");
    try {
        db_->Run("COMMIT");
    } catch (...) {
        // A commit that fails on a full disk or an I/O failure may end the transaction itself:
        // then none is open any more, and the connection can begin the next one.
        inTransaction_ = !sqlite3_get_autocommit(db_->Handle());
        if (!inTransaction_)
            changedFolders_.clear();
        throw;
    }
    inTransaction_ = false;
    SignalChanges();
}

void Store::RollbackTransaction() {
    std::lock_guard lock(mutex_);
    if (!inTransaction_)
        throw Error(hr::XACT_E_NOTRANSACTION, "No transaction is open on this connection");
    changedFolders_.clear();
    try {
        db_->Execute("ROLLBACK");
    } catch (...) {
        inTransaction_ = !sqlite3_get_autocommit(db_->Handle());
        throw;
    }
    inTransaction_ = false;
}

} // namespace platform::store
