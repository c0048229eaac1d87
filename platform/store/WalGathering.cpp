// The log's frames gathered into one write per commit (see WalGathering.h). SQLite writes each
// frame as two calls, its 24-octet header and its page; a save of twenty pages was forty
// system calls before its one sync.

#include "platform/store/WalGathering.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

namespace platform::store {

namespace {

constexpr const char* kName = "lorvanta-wal-gathering";
// The most one write carries: the unix VFS beneath writes at most 0x1ffff octets a call and
// calls a shorter write a full disk. A larger commit goes out in pieces (31 frames of 4 KiB).
constexpr std::size_t kMostGathered = 0x1ffff;

sqlite3_vfs gathering{};
sqlite3_vfs* registeredOver = nullptr;

struct GatheringFile {
    sqlite3_file file;            // what SQLite sees: first
    sqlite3_file* real = nullptr; // the file of the VFS beneath, in a block of its own
    bool wal = false;
    std::string gathered; // written by SQLite, not yet to the file; they belong at `at`
    sqlite3_int64 at = 0;
};

GatheringFile& Own(sqlite3_file* file) {
    return *reinterpret_cast<GatheringFile*>(file);
}

sqlite3_file* Real(sqlite3_file* file) {
    return Own(file).real;
}

int Flush(GatheringFile& own) {
    if (own.gathered.empty())
        return SQLITE_OK;
    const int rc = own.real->pMethods->xWrite(own.real, own.gathered.data(),
                                              static_cast<int>(own.gathered.size()), own.at);
    own.gathered.clear();
    return rc;
}

int Write(sqlite3_file* file, const void* data, int amount, sqlite3_int64 offset) {
    auto& own = Own(file);
    if (!own.wal)
        return own.real->pMethods->xWrite(own.real, data, amount, offset);
    // Only a run of writes each beginning where the last ended is gathered; anything else (a
    // frame rewritten in place) waits for what came before it.
    const auto size = static_cast<std::size_t>(amount);
    if (!own.gathered.empty() &&
        (offset != own.at + static_cast<sqlite3_int64>(own.gathered.size()) ||
         own.gathered.size() + size > kMostGathered))
        if (const int rc = Flush(own); rc != SQLITE_OK)
            return rc;
    if (size > kMostGathered)
        return own.real->pMethods->xWrite(own.real, data, amount, offset);
    try {
        if (own.gathered.empty())
            own.at = offset;
        own.gathered.append(static_cast<const char*>(data), size);
    } catch (const std::bad_alloc&) {
        if (const int rc = Flush(own); rc != SQLITE_OK)
            return rc;
        return own.real->pMethods->xWrite(own.real, data, amount, offset);
    }
    return SQLITE_OK;
}

// What reads, syncs, truncates or asks about the file first writes what is gathered.
template <auto method, class... Arguments>
int FlushThen(sqlite3_file* file, Arguments... arguments) {
    if (const int rc = Flush(Own(file)); rc != SQLITE_OK)
        return rc;
    return (Real(file)->pMethods->*method)(Real(file), arguments...);
}

// The end of a commit: nothing is kept allocated after it, so that sessions that once wrote hold
// no blocks while they sit idle.
int Sync(sqlite3_file* file, int flags) {
    auto& own = Own(file);
    const int flushed = Flush(own);
    std::string().swap(own.gathered);
    if (flushed != SQLITE_OK)
        return flushed;
    return own.real->pMethods->xSync(own.real, flags);
}

template <auto method, class... Arguments> auto Pass(sqlite3_file* file, Arguments... arguments) {
    return (Real(file)->pMethods->*method)(Real(file), arguments...);
}

int Close(sqlite3_file* file) {
    auto& own = Own(file);
    const int flushed = Flush(own);
    const int closed = own.real->pMethods ? own.real->pMethods->xClose(own.real) : SQLITE_OK;
    sqlite3_free(own.real);
    file->pMethods = nullptr;
    own.~GatheringFile();
    return flushed != SQLITE_OK ? flushed : closed;
}

using M = sqlite3_io_methods;

constexpr sqlite3_io_methods MethodsOfVersion(int version) {
    return {version,
            Close,
            FlushThen<&M::xRead>,
            Write,
            FlushThen<&M::xTruncate>,
            Sync,
            FlushThen<&M::xFileSize>,
            Pass<&M::xLock>,
            Pass<&M::xUnlock>,
            Pass<&M::xCheckReservedLock>,
            FlushThen<&M::xFileControl>,
            Pass<&M::xSectorSize>,
            Pass<&M::xDeviceCharacteristics>,
            Pass<&M::xShmMap>,
            Pass<&M::xShmLock>,
            Pass<&M::xShmBarrier>,
            Pass<&M::xShmUnmap>,
            FlushThen<&M::xFetch>,
            Pass<&M::xUnfetch>};
}

// The methods of the file beneath's version, so that SQLite calls none that it lacks.
const sqlite3_io_methods* MethodsFor(int version) {
    static constexpr sqlite3_io_methods kTables[] = {MethodsOfVersion(1), MethodsOfVersion(2),
                                                     MethodsOfVersion(3)};
    return &kTables[std::clamp(version, 1, 3) - 1];
}

int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags) {
    // The default of the moment, so that a VFS installed later (a test's faulty disk) is beneath.
    auto* beneath = sqlite3_vfs_find(nullptr);
    if (!beneath || beneath == &gathering)
        beneath = registeredOver;
    auto* own = new (file) GatheringFile{};
    own->file.pMethods = nullptr;
    own->wal = (flags & SQLITE_OPEN_WAL) != 0;
    own->real = static_cast<sqlite3_file*>(sqlite3_malloc(beneath->szOsFile));
    if (!own->real) {
        own->~GatheringFile();
        return SQLITE_NOMEM;
    }
    std::memset(own->real, 0, static_cast<std::size_t>(beneath->szOsFile));
    const int rc = beneath->xOpen(beneath, name, own->real, flags, outFlags);
    if (!own->real->pMethods) {
        sqlite3_free(own->real);
        own->~GatheringFile();
        return rc == SQLITE_OK ? SQLITE_CANTOPEN : rc;
    }
    own->file.pMethods = MethodsFor(own->real->pMethods->iVersion);
    return rc;
}

} // namespace

const char* WalGatheringVfs() {
    static std::once_flag once;
    static bool registered = false;
    std::call_once(once, [] {
        registeredOver = sqlite3_vfs_find(nullptr);
        if (!registeredOver)
            return;
        // The rest of the VFS (names, access, time) is the default's own.
        gathering = *registeredOver;
        gathering.zName = kName;
        gathering.szOsFile = static_cast<int>(sizeof(GatheringFile));
        gathering.xOpen = Open;
        gathering.pNext = nullptr;
        registered = sqlite3_vfs_register(&gathering, 0) == SQLITE_OK;
    });
    // Without it the store opens through the default VFS: the same files, more writes.
    return registered ? kName : nullptr;
}

} // namespace platform::store
