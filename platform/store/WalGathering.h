// The SQLite VFS the store opens its database with: the default one, except that the frames a
// commit appends to the write-ahead log reach the file in one write rather than two per page.
#pragma once

namespace platform::store {

// Registers the VFS on first use (not as the default) and returns its name. Beneath it lies
// whatever VFS is the default when a file is opened.
//
// Frames are held only until the log is next synced, read, truncated or closed. That is safe
// because no other connection reads a frame before the commit that holds it is published, and
// with synchronous=FULL a commit syncs the log before it publishes. Connections opened through
// this VFS must therefore keep synchronous=FULL.
const char* WalGatheringVfs();

} // namespace platform::store
