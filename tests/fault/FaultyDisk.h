#pragma once

// A disk that fills up or turns read-only on request, for the store's database, and that counts
// the syncs and writes of write-ahead logs.
//
// It is an SQLite VFS that wraps the process's default one and is registered as the new default,
// so the store opens its database through it without knowing: nothing in the store changes for
// the test. Disarmed it only passes calls on. Chosen over RLIMIT_FSIZE (which fails writes with
// EFBIG, an I/O error rather than a full disk, and needs a child process per case) and over
// chmod (which does not stop root, and the tests run as root in CI).

#include <cstdint>

namespace faulttest {

class FaultyDisk {
public:
    // Registers the disk as the process's default VFS (once; later calls do nothing).
    static void Install();

    // After `bytes` more bytes have been written, every write fails as on a full disk
    // (SQLITE_FULL), the one that crosses the limit after writing what still fits.
    static void FillAfter(std::int64_t bytes);
    // The file system turns read-only: database files opened from now on open read-only, as
    // files without write permission do, and writes to files already open fail.
    static void MakeReadOnly();
    // Space and permission are back.
    static void Repair();

    // How often a write-ahead log (a -wal file) was synced since the process started.
    static std::int64_t WalSyncs();
    // How many writes reached a write-ahead log since the process started.
    static std::int64_t WalWrites();
};

} // namespace faulttest
