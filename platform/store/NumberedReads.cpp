// Reads of numbered items for mail clients: the properties of many items in one statement, and a
// range of one text value read alone from the database pages that hold it.

#include "platform/store/Store.h"

#include "platform/core/JsonText.h"
#include "platform/store/Database.h"
#include "platform/store/PropertyCodec.h"

#include <algorithm>
#include <map>

namespace platform::store {

namespace {

// [1,2,3], for json_each().
std::string JsonNumbers(const std::vector<std::int64_t>& numbers) {
    std::string json = "[";
    for (const auto number : numbers)
        json += (json.size() > 1 ? "," : "") + std::to_string(number);
    return json + "]";
}

// What a read found by number, for each number in the order asked: moved into place where a
// number is first asked for, copied from there if it is asked again.
template <class Found>
std::vector<std::optional<Found>> InAskedOrder(const std::vector<std::int64_t>& numbers,
                                               std::map<std::int64_t, Found>& found) {
    std::vector<std::optional<Found>> items(numbers.size());
    std::map<std::int64_t, std::size_t> placed;
    for (std::size_t at = 0; at < numbers.size(); ++at) {
        if (const auto first = placed.find(numbers[at]); first != placed.end()) {
            items[at] = items[first->second];
        } else if (auto item = found.find(numbers[at]); item != found.end()) {
            items[at] = std::move(item->second);
            placed.emplace(numbers[at], at);
        }
    }
    return items;
}

} // namespace

std::vector<std::optional<PropertyMap>>
Store::PropertiesOfNumbers(const std::string& folderKey, const std::vector<std::int64_t>& numbers,
                           const std::set<std::string>& names) {
    std::lock_guard lock(mutex_);
    // One statement is one read: the items are seen as they were at its start.
    auto query =
        db_->Prepared("SELECT n.number, i.key, p.name, p.kind, p.value "
                      "FROM item_numbers n JOIN items i ON i.id = n.item_id AND i.is_folder = 0 "
                      "LEFT JOIN properties p ON p.item_id = i.id AND "
                      "(?3 = '[]' OR p.name IN (SELECT value FROM json_each(?3))) "
                      "WHERE n.folder_key = ?1 AND n.number IN (SELECT value FROM json_each(?2))");
    query.Bind(1, folderKey).Bind(2, JsonNumbers(numbers)).Bind(3, text::JsonStringArray(names));
    std::map<std::int64_t, PropertyMap> found;
    while (query.Step()) {
        auto& properties = found[query.Integer(0)];
        if (query.IsNull(2))
            continue;
        const auto kind = query.Integer(3);
        if (static_cast<PropertyKind>(kind) == PropertyKind::MailboxLink)
            continue; // only mailbox roots carry links
        auto name = query.Text(2);
        auto value = DecodeStored(kind, query.Text(4), query.Text(1), name);
        properties.emplace(std::move(name), std::move(value));
    }
    return InAskedOrder(numbers, found);
}

std::vector<std::optional<std::vector<std::string>>>
Store::TextsOfNumbers(const std::string& folderKey, const std::vector<std::int64_t>& numbers,
                      const std::vector<std::string>& names) {
    std::lock_guard lock(mutex_);
    // Only items that are no folders are numbered: the items table has nothing to add here.
    auto query =
        db_->Prepared("SELECT n.number, p.name, p.kind, p.value FROM item_numbers n "
                      "LEFT JOIN properties p ON p.item_id = n.item_id AND "
                      "p.name IN (SELECT value FROM json_each(?3)) "
                      "WHERE n.folder_key = ?1 AND n.number IN (SELECT value FROM json_each(?2))");
    query.Bind(1, folderKey).Bind(2, JsonNumbers(numbers)).Bind(3, text::JsonStringArray(names));
    std::map<std::int64_t, std::vector<std::string>> found;
    while (query.Step()) {
        auto& texts = found.try_emplace(query.Integer(0), names.size()).first->second;
        // A text's stored bytes are the text itself: nothing to decode.
        if (query.IsNull(1) || static_cast<PropertyKind>(query.Integer(2)) != PropertyKind::Text)
            continue;
        const auto name = std::find(names.begin(), names.end(), query.Text(1));
        if (name != names.end())
            texts[static_cast<std::size_t>(name - names.begin())] = query.Text(3);
    }
    return InAskedOrder(numbers, found);
}

std::optional<std::string> Store::TextRange(const std::string& folderKey, std::int64_t number,
                                            const std::string& name, std::uint64_t offset,
                                            std::uint64_t count) {
    std::lock_guard lock(mutex_);
    // The row is found, then its value read by incremental blob I/O, which reads only the pages
    // holding the octets asked for (substr() loaded all of a value of megabytes first). The blob
    // is read while the statement still holds the row: one read of the database, so the row id
    // (which a VACUUM may renumber) still names that row, inside ReadTogether or not.
    auto query =
        db_->Prepared("SELECT p.kind, p.rowid "
                      "FROM item_numbers n JOIN items i ON i.id = n.item_id AND i.is_folder = 0 "
                      "LEFT JOIN properties p ON p.item_id = i.id AND p.name = ?3 "
                      "WHERE n.folder_key = ?1 AND n.number = ?2");
    query.Bind(1, folderKey).Bind(2, number).Bind(3, name);
    if (!query.Step())
        return std::nullopt;
    if (query.IsNull(0) || static_cast<PropertyKind>(query.Integer(0)) != PropertyKind::Text)
        return std::string();
    if (count == 0)
        return std::string();
    return db_->ReadBlob("properties", "value", query.Integer(1)).Read(offset, count);
}

} // namespace platform::store
