#pragma once

// Failure numbers of the store's provider, with the values the platform documents for them.

#include "platform/core/Error.h"

namespace platform::store::hr {

using platform::hr::Code;

// DB_E_NOTFOUND: no item, folder, mailbox or domain folder of that name.
constexpr std::int32_t DB_E_NOTFOUND = Code(0x80040E19);
// DB_SEC_E_PERMISSIONDENIED: a write through a record opened for reading.
constexpr std::int32_t DB_SEC_E_PERMISSIONDENIED = Code(0x80040E09);
// DB_E_RESOURCEEXISTS: creating a domain folder, mailbox or folder that already exists.
constexpr std::int32_t DB_E_RESOURCEEXISTS = Code(0x80040E92);
// HRESULT_FROM_WIN32(ERROR_BAD_NETPATH): a URL naming another server.
constexpr std::int32_t ERROR_BAD_NETPATH = Code(0x80070035);
// HRESULT_FROM_WIN32(ERROR_INVALID_NAME): text that is not a store URL at all.
constexpr std::int32_t ERROR_INVALID_NAME = Code(0x8007007B);
// XACT_E_NOTRANSACTION / XACT_E_XTIONEXISTS: commit without begin, begin twice.
constexpr std::int32_t XACT_E_NOTRANSACTION = Code(0x8004D00E);
constexpr std::int32_t XACT_E_XTIONEXISTS = Code(0x8004D013);
// DB_E_CONCURRENCYVIOLATION: a save on condition that the item was not changed since, when it was.
constexpr std::int32_t DB_E_CONCURRENCYVIOLATION = Code(0x80040E38);
// E_ABORT: an event sink refused the change.
constexpr std::int32_t E_ABORT = Code(0x80004004);
// The database itself failed (lock, corruption, ...): STG_E_ACCESSDENIED-like storage failure.
constexpr std::int32_t STORE_E_DATABASE = Code(0x80030005);
// STG_E_MEDIUMFULL: the disk holding the database is full.
constexpr std::int32_t STG_E_MEDIUMFULL = Code(0x80030070);
// E_ACCESSDENIED (HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)): the database file is read-only.
constexpr std::int32_t E_ACCESSDENIED = Code(0x80070005);
// STG_E_WRITEFAULT / STG_E_READFAULT: the disk failed a write or a read.
constexpr std::int32_t STG_E_WRITEFAULT = Code(0x8003001D);
constexpr std::int32_t STG_E_READFAULT = Code(0x8003001E);
// STG_E_OLDDLL: the database was made by a newer program, in a format this one does not know.
constexpr std::int32_t STG_E_OLDDLL = Code(0x80030105);

} // namespace platform::store::hr
