// The numbers mail clients know a folder's items by (IMAP UIDs), and the folder listing they ask
// for. Kept in tables of their own beside the items, so that stores made before them still open:
// their items are numbered the first time a client looks.

#include "platform/store/Database.h"
#include "platform/store/PropertyCodec.h"
#include "platform/store/Store.h"

#include <chrono>

namespace platform::store {

namespace {

std::int64_t Now() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace

FolderNumbers Store::NumbersOf(const std::string& folderKey) {
    auto find = db_->Prepared("SELECT validity, next FROM folder_numbers WHERE folder_key = ?1");
    if (find.Bind(1, folderKey).Step())
        return {find.Integer(0), find.Integer(1)};
    return {Now(), 1};
}

void Store::NumberItem(std::int64_t itemId, const std::string& folderKey) {
    const auto numbers = NumbersOf(folderKey);
    db_->Prepared("INSERT OR REPLACE INTO folder_numbers(folder_key, validity, next) "
                  "VALUES(?1, ?2, ?3)")
        .Bind(1, folderKey)
        .Bind(2, numbers.validity)
        .Bind(3, numbers.next + 1)
        .Run();
    db_->Prepared("INSERT INTO item_numbers(item_id, folder_key, number, received) "
                  "VALUES(?1, ?2, ?3, ?4)")
        .Bind(1, itemId)
        .Bind(2, folderKey)
        .Bind(3, numbers.next)
        .Bind(4, Now())
        .Run();
}

void Store::NumberUnnumbered(const std::string& folderKey) {
    std::vector<std::int64_t> ids;
    {
        auto query = db_->Prepared(
            "SELECT i.id FROM items i LEFT JOIN item_numbers n ON n.item_id = i.id "
            "WHERE i.parent_key = ?1 AND i.is_folder = 0 AND n.item_id IS NULL ORDER BY i.id");
        query.Bind(1, folderKey);
        while (query.Step())
            ids.push_back(query.Integer(0));
    }
    if (ids.empty())
        return;
    const auto numberAll = [&] {
        for (const auto id : ids) {
            // Another connection may have numbered it meanwhile.
            if (!db_->Prepared("SELECT 1 FROM item_numbers WHERE item_id = ?1").Bind(1, id).Step())
                NumberItem(id, folderKey);
        }
    };
    if (inTransaction_)
        return numberAll();
    db_->Execute("BEGIN IMMEDIATE");
    try {
        numberAll();
        db_->Execute("COMMIT");
    } catch (...) {
        RollBackQuietly("ROLLBACK");
        throw;
    }
}

std::vector<NumberedItem> Store::NumberedItems(const ItemLocation& folder, FolderNumbers& numbers,
                                               const std::set<std::string>& names) {
    std::lock_guard lock(mutex_);
    NumberUnnumbered(folder.key);
    numbers = NumbersOf(folder.key);
    std::vector<NumberedItem> items;
    auto query = db_->Prepared("SELECT n.number, n.received, i.id, i.key, p.name, p.kind, p.value "
                               "FROM item_numbers n JOIN items i ON i.id = n.item_id "
                               "LEFT JOIN properties p ON p.item_id = i.id "
                               "WHERE n.folder_key = ?1 ORDER BY n.number");
    query.Bind(1, folder.key);
    while (query.Step()) {
        const auto number = query.Integer(0);
        if (items.empty() || items.back().number != number) {
            NumberedItem numbered;
            numbered.number = number;
            numbered.received = query.Integer(1);
            numbered.item.id = query.Integer(2);
            numbered.item.key = query.Text(3);
            numbered.item.parentKey = folder.key;
            items.push_back(std::move(numbered));
        }
        if (query.IsNull(4))
            continue;
        auto name = query.Text(4);
        if (!names.empty() && !names.count(name))
            continue;
        const auto kind = static_cast<PropertyKind>(query.Integer(5));
        if (kind == PropertyKind::MailboxLink)
            continue; // only mailbox roots carry links
        items.back().item.properties.emplace(std::move(name), DecodeValue(kind, query.Text(6)));
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
