#pragma once

// The store database's format: which tables and columns it has. A database records its format
// in SQLite's user_version; opening one of an older format brings it up to date in one
// transaction, and one of a newer format than this program knows is refused untouched.

#include "platform/store/Database.h"

#include <filesystem>

namespace platform::store {

// 1: domains, mailboxes, items and their properties.
// 2: folder_numbers and item_numbers (UIDs for the IMAP front).
// 3: folder_numbers.changes (a change counter per folder) and the index of folders.
// 4: item_numbers.changed (the folder's count at the item's last change) and
//    folder_numbers.claimed (the first number no reader has claimed as new).
// 5: properties with row ids, so that parts of a large value are read alone.
constexpr int kStoreFormat = 5;

// Brings the database to kStoreFormat: creates the tables of a new one, migrates an older one
// step by step in one IMMEDIATE transaction (so a failure keeps the old format whole and another
// process opening it at the same time waits, then finds it done), and records the format. Fails
// with STG_E_OLDDLL naming `file` and both formats for a database newer than this program.
void BringStoreFormatUpToDate(Database& db, const std::filesystem::path& file);

} // namespace platform::store
