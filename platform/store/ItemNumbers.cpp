// The numbers mail clients know a folder's items by (IMAP UIDs), and the folder listing they ask
// for. Kept in tables of their own beside the items, so that stores made before them still open:
// their items are numbered the first time a client looks.

#include "platform/core/JsonText.h"
#include "platform/store/Database.h"
#include "platform/store/PropertyCodec.h"
#include "platform/store/Store.h"

#include <chrono>
#include <mutex>
#include <set>

namespace platform::store {

namespace {

std::int64_t Now() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Folders (by database file and key) this process has seen numbered: every item made since has
// its number, so they need no look for unnumbered items again, from any Store object.
class NumberedFolders {
public:
    bool Contains(const std::string& key) {
        std::lock_guard lock(mutex_);
        return keys_.count(key) != 0;
    }
    void Add(const std::string& key) {
        std::lock_guard lock(mutex_);
        keys_.insert(key);
    }
    // The key and those beginning with key + "/".
    void RemoveBelow(const std::string& key) {
        std::lock_guard lock(mutex_);
        keys_.erase(key);
        keys_.erase(keys_.lower_bound(key + "/"), keys_.lower_bound(key + "0"));
    }

private:
    std::mutex mutex_;
    std::set<std::string> keys_;
};

NumberedFolders& Numbered() {
    static NumberedFolders folders;
    return folders;
}

} // namespace

FolderNumbers Store::StoredNumbers(const std::string& folderKey) {
    auto find =
        db_->Prepared("SELECT validity, next, changes FROM folder_numbers WHERE folder_key = ?1");
    if (find.Bind(1, folderKey).Step())
        return {find.Integer(0), find.Integer(1), find.Integer(2)};
    return {Now(), 1, 0};
}

Store::ItemNumber Store::NumberItem(std::int64_t itemId, const std::string& folderKey,
                                    std::optional<std::int64_t> received) {
    // One statement takes the folder's next number and counts the change (making the folder's
    // row on its first item).
    auto take = db_->Prepared(
        "INSERT INTO folder_numbers(folder_key, validity, next, changes) VALUES(?1, ?2, 2, 1) "
        "ON CONFLICT(folder_key) DO UPDATE SET next = next + 1, changes = changes + 1 "
        "RETURNING next - 1, changes");
    take.Bind(1, folderKey).Bind(2, Now());
    if (!take.Step())
        ThrowDatabaseError(db_->Handle(), "numbering an item");
    const ItemNumber numbered{take.Integer(0), take.Integer(1)};
    while (take.Step()) {
    }
    db_->Prepared("INSERT INTO item_numbers(item_id, folder_key, number, received, changed) "
                  "VALUES(?1, ?2, ?3, ?4, ?5)")
        .Bind(1, itemId)
        .Bind(2, folderKey)
        .Bind(3, numbered.number)
        .Bind(4, received.value_or(Now()))
        .Bind(5, numbered.changed)
        .Run();
    changedFolders_.insert(folderKey);
    return numbered;
}

std::optional<std::int64_t> Store::NoteChange(const std::string& folderKey, std::int64_t count) {
    auto note = db_->Prepared(
        "UPDATE folder_numbers SET changes = changes + ?2 WHERE folder_key = ?1 RETURNING changes");
    note.Bind(1, folderKey).Bind(2, count);
    const bool counted = note.Step();
    const auto changes = counted ? note.Integer(0) : 0;
    while (counted && note.Step()) {
    }
    changedFolders_.insert(folderKey);
    if (!counted)
        return std::nullopt;
    return changes;
}

void Store::NumberUnnumbered(const std::string& folderKey) {
    const auto memo = directory_.string() + "\n" + folderKey;
    if (Numbered().Contains(memo))
        return;
    std::vector<std::int64_t> ids;
    {
        auto query = db_->Prepared(
            "SELECT i.id FROM items i LEFT JOIN item_numbers n ON n.item_id = i.id "
            "WHERE i.parent_key = ?1 AND i.is_folder = 0 AND n.item_id IS NULL ORDER BY i.id");
        query.Bind(1, folderKey);
        while (query.Step())
            ids.push_back(query.Integer(0));
    }
    const bool known = db_->Prepared("SELECT 1 FROM folder_numbers WHERE folder_key = ?1")
                           .Bind(1, folderKey)
                           .Step();
    if (ids.empty() && known) {
        Numbered().Add(memo);
        return;
    }
    WritingHere([&] {
        // Another connection may have done it meanwhile.
        db_->Prepared("INSERT OR IGNORE INTO folder_numbers(folder_key, validity, next, changes) "
                      "VALUES(?1, ?2, 1, 0)")
            .Bind(1, folderKey)
            .Bind(2, Now())
            .Run();
        for (const auto id : ids)
            if (!db_->Prepared("SELECT 1 FROM item_numbers WHERE item_id = ?1").Bind(1, id).Step())
                NumberItem(id, folderKey);
    });
    // Not before the write is committed: a rolled-back transaction would undo the numbers.
    if (!inTransaction_)
        Numbered().Add(memo);
}

void Store::ForgetNumberedBelow(const std::string& folderKey) {
    Numbered().RemoveBelow(directory_.string() + "\n" + folderKey);
}

FolderNumbers Store::NumbersOf(const ItemLocation& folder) {
    std::lock_guard lock(mutex_);
    NumberUnnumbered(folder.key);
    return StoredNumbers(folder.key);
}

std::int64_t Store::FirstUnclaimed(const ItemLocation& folder) {
    std::lock_guard lock(mutex_);
    // Numbers begin at 1.
    auto find = db_->Prepared("SELECT max(claimed, 1) FROM folder_numbers WHERE folder_key = ?1");
    return find.Bind(1, folder.key).Step() ? find.Integer(0) : 1;
}

std::int64_t Store::ClaimNew(const ItemLocation& folder, std::int64_t upTo) {
    std::lock_guard lock(mutex_);
    // Read first: most looks find nothing new, and a write would cost a sync.
    if (FirstUnclaimed(folder) >= upTo)
        return upTo;
    auto first = upTo;
    WritingHere([&] {
        // Read again inside the write: another reader may have claimed them meanwhile.
        auto find =
            db_->Prepared("SELECT max(claimed, 1) FROM folder_numbers WHERE folder_key = ?1");
        if (!find.Bind(1, folder.key).Step() || find.Integer(0) >= upTo)
            return;
        first = find.Integer(0);
        db_->Prepared("UPDATE folder_numbers SET claimed = ?2 WHERE folder_key = ?1")
            .Bind(1, folder.key)
            .Bind(2, upTo)
            .Run();
    });
    return first;
}

std::vector<NumberedItem> Store::NumberedItems(const ItemLocation& folder, FolderNumbers& numbers,
                                               const std::set<std::string>& names,
                                               const std::set<std::string>& sizesOnly) {
    std::lock_guard lock(mutex_);
    NumberUnnumbered(folder.key);
    numbers = StoredNumbers(folder.key);
    return ReadNumberedItems(folder.key, -1, names, sizesOnly);
}

std::vector<NumberedItem> Store::NumberedItemsChangedSince(const ItemLocation& folder,
                                                           std::int64_t since,
                                                           FolderNumbers& numbers,
                                                           std::vector<std::int64_t>& present,
                                                           const std::set<std::string>& names,
                                                           const std::set<std::string>& sizesOnly) {
    std::lock_guard lock(mutex_);
    NumberUnnumbered(folder.key);
    std::vector<NumberedItem> items;
    ReadTogether([&] {
        numbers = StoredNumbers(folder.key);
        items = ReadNumberedItems(folder.key, since, names, sizesOnly);
        present.clear();
        auto query = db_->Prepared("SELECT n.number FROM item_numbers n "
                                   "JOIN items i ON i.id = n.item_id "
                                   "WHERE n.folder_key = ?1 AND i.is_folder = 0 ORDER BY n.number");
        query.Bind(1, folder.key);
        while (query.Step())
            present.push_back(query.Integer(0));
    });
    return items;
}

std::vector<NumberedItem> Store::ReadNumberedItems(const std::string& folderKey, std::int64_t since,
                                                   const std::set<std::string>& names,
                                                   const std::set<std::string>& sizesOnly) {
    std::vector<NumberedItem> items;
    // The names go to SQLite as JSON arrays, so that only the rows wanted are read at all.
    auto query = db_->Prepared(
        "SELECT n.number, n.received, i.id, i.key, p.name, p.kind, "
        "CASE WHEN p.name IN (SELECT value FROM json_each(?3)) THEN NULL ELSE p.value END, "
        "length(p.value), n.changed "
        "FROM item_numbers n JOIN items i ON i.id = n.item_id "
        "LEFT JOIN properties p ON p.item_id = i.id AND "
        "(p.name IN (SELECT value FROM json_each(?2)) OR p.name IN (SELECT value FROM "
        "json_each(?3))) "
        "WHERE n.folder_key = ?1 AND i.is_folder = 0 AND n.changed > ?4 ORDER BY n.number");
    query.Bind(1, folderKey)
        .Bind(2, text::JsonStringArray(names))
        .Bind(3, text::JsonStringArray(sizesOnly))
        .Bind(4, since);
    while (query.Step()) {
        const auto number = query.Integer(0);
        if (items.empty() || items.back().number != number) {
            NumberedItem numbered;
            numbered.number = number;
            numbered.received = query.Integer(1);
            numbered.changed = query.Integer(8);
            numbered.item.id = query.Integer(2);
            numbered.item.key = query.Text(3);
            numbered.item.parentKey = folderKey;
            items.push_back(std::move(numbered));
        }
        if (query.IsNull(4))
            continue;
        auto name = query.Text(4);
        if (sizesOnly.count(name)) {
            items.back().sizes[name] = query.Integer(7);
            continue;
        }
        const auto kind = static_cast<PropertyKind>(query.Integer(5));
        if (kind == PropertyKind::MailboxLink)
            continue; // only mailbox roots carry links
        auto value = DecodeStored(query.Integer(5), query.Text(6), items.back().item.key, name);
        items.back().item.properties.emplace(std::move(name), std::move(value));
    }
    return items;
}

std::optional<std::string> Store::KeyOfNumber(const std::string& folderKey, std::int64_t number) {
    std::lock_guard lock(mutex_);
    auto query = db_->Prepared("SELECT i.key FROM item_numbers n JOIN items i ON i.id = n.item_id "
                               "WHERE n.folder_key = ?1 AND n.number = ?2");
    if (!query.Bind(1, folderKey).Bind(2, number).Step())
        return std::nullopt;
    return query.Text(0);
}

std::vector<std::string> Store::FolderPaths(const ItemLocation& mailbox) {
    std::lock_guard lock(mutex_);
    std::vector<std::string> paths;
    auto query = db_->Prepared("SELECT path FROM items WHERE key >= ?1 AND key < ?2 "
                               "AND is_folder = 1 ORDER BY key");
    query.Bind(1, mailbox.key + "/").Bind(2, mailbox.key + "0");
    while (query.Step())
        paths.push_back(query.Text(0));
    return paths;
}

} // namespace platform::store
