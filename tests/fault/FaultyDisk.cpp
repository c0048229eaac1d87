// The SQLite VFS behind FaultyDisk: passes every call to the default VFS and fails writes, or
// opens for writing, while a fault is armed; it counts the syncs and writes of logs.

#include "FaultyDisk.h"

#include <sqlite3.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <stdexcept>

namespace faulttest {

namespace {

std::atomic<std::int64_t> spaceLeft = -1; // -1: no limit
std::atomic<bool> readOnly = false;
std::atomic<std::int64_t> walSyncs = 0;
std::atomic<std::int64_t> walWrites = 0;

sqlite3_vfs* base = nullptr;
sqlite3_vfs faulty{};

// The file as the faulty disk opened it; the base VFS's file follows it in the same block.
struct FaultyFile {
    sqlite3_file file;
    sqlite3_file* real;
    bool wal;
};

sqlite3_file* Real(sqlite3_file* file) {
    return reinterpret_cast<FaultyFile*>(file)->real;
}

int Write(sqlite3_file* file, const void* data, int amount, sqlite3_int64 offset) {
    if (reinterpret_cast<FaultyFile*>(file)->wal)
        ++walWrites;
    // A file system remounted read-only fails writes to files that are already open (EROFS).
    if (readOnly)
        return SQLITE_IOERR_WRITE;
    for (;;) {
        std::int64_t left = spaceLeft;
        if (left < 0)
            break;
        if (left < amount) {
            // What still fits is written, as a short write on a full disk does.
            spaceLeft = 0;
            if (left > 0)
                Real(file)->pMethods->xWrite(Real(file), data, static_cast<int>(left), offset);
            return SQLITE_FULL;
        }
        if (spaceLeft.compare_exchange_weak(left, left - amount))
            break;
    }
    return Real(file)->pMethods->xWrite(Real(file), data, amount, offset);
}

int Sync(sqlite3_file* file, int flags) {
    if (reinterpret_cast<FaultyFile*>(file)->wal)
        ++walSyncs;
    return Real(file)->pMethods->xSync(Real(file), flags);
}

int Close(sqlite3_file* file) {
    const int rc = Real(file)->pMethods ? Real(file)->pMethods->xClose(Real(file)) : SQLITE_OK;
    file->pMethods = nullptr;
    return rc;
}

// Calls the base file's own method `method` with the same arguments.
template <auto method, class... Arguments> auto Pass(sqlite3_file* file, Arguments... arguments) {
    return (Real(file)->pMethods->*method)(Real(file), arguments...);
}

// Every other method is passed on unchanged.
using M = sqlite3_io_methods;
const sqlite3_io_methods kMethods = {
    3,
    Close,
    Pass<&M::xRead>,
    Write,
    Pass<&M::xTruncate>,
    Sync,
    Pass<&M::xFileSize>,
    Pass<&M::xLock>,
    Pass<&M::xUnlock>,
    Pass<&M::xCheckReservedLock>,
    Pass<&M::xFileControl>,
    Pass<&M::xSectorSize>,
    Pass<&M::xDeviceCharacteristics>,
    Pass<&M::xShmMap>,
    Pass<&M::xShmLock>,
    Pass<&M::xShmBarrier>,
    Pass<&M::xShmUnmap>,
    Pass<&M::xFetch>,
    Pass<&M::xUnfetch>,
};

int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags) {
    auto* own = reinterpret_cast<FaultyFile*>(file);
    own->real = reinterpret_cast<sqlite3_file*>(own + 1);
    own->file.pMethods = nullptr;
    own->wal = (flags & SQLITE_OPEN_WAL) != 0;
    if (readOnly && (flags & SQLITE_OPEN_MAIN_DB) && (flags & SQLITE_OPEN_READWRITE))
        // What the base VFS does itself when the file refuses to open for writing.
        flags = (flags & ~(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE)) | SQLITE_OPEN_READONLY;
    const int rc = base->xOpen(base, name, own->real, flags, outFlags);
    if (own->real->pMethods)
        own->file.pMethods = &kMethods;
    return rc;
}

} // namespace

void FaultyDisk::Install() {
    static std::once_flag once;
    std::call_once(once, [] {
        base = sqlite3_vfs_find(nullptr);
        if (!base)
            throw std::runtime_error("SQLite has no default VFS");
        faulty = *base;
        faulty.zName = "lorvanta-faulty-disk";
        faulty.szOsFile = static_cast<int>(sizeof(FaultyFile)) + base->szOsFile;
        faulty.xOpen = Open;
        faulty.pNext = nullptr;
        if (sqlite3_vfs_register(&faulty, 1) != SQLITE_OK)
            throw std::runtime_error("cannot register the faulty disk");
    });
}

void FaultyDisk::FillAfter(std::int64_t bytes) {
    spaceLeft = bytes;
}

void FaultyDisk::MakeReadOnly() {
    readOnly = true;
}

void FaultyDisk::Repair() {
    spaceLeft = -1;
    readOnly = false;
}

std::int64_t FaultyDisk::WalSyncs() {
    return walSyncs;
}

std::int64_t FaultyDisk::WalWrites() {
    return walWrites;
}

} // namespace faulttest
