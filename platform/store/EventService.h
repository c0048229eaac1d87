#pragma once

// The store's event service: on every save and delete it runs the synchronous events of the
// registration items that apply, creating each sink by the ProgID the item names.
//
// A registration applies to a save or delete when it lies
//   - in the item's folder with match scope "SHALLOW",
//   - in the item's folder or any folder above it with match scope "DEEP",
//   - in the item itself (an existing folder) with match scope "EXACT",
//   - in "StoreEvents/GlobalEvents" of a system mailbox of the store with match scope "ANY",
// its event method names "onsyncsave" (for saves) or "onsyncdelete" (for deletes), it is not
// disabled, and its criteria (a WHERE clause of the store's query dialect) hold for the item.
// Sinks run by ascending priority.

#include "platform/com/Com.h"
#include "platform/store/StoreEvents.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform::store {

class Store;
struct PendingSave;

// Creates a sink by ProgID; throws platform::Error when it cannot.
using SinkCreator = std::function<com::ComPtr<IExStoreSyncEvents>(const std::string& progId)>;

// The process's sink creator; the COM runtime installs one. Returns the one it replaces.
// Without one, every sink fails to be created (and that is written to the event log).
SinkCreator SetSinkCreator(SinkCreator creator);

// The events of one change of an item, a save or a delete: the registrations that apply, the
// sinks they name and the phases they are called in. Begin (of SaveEvents or DeleteEvents) runs
// the begin phase; it throws E_ABORT, after running the aborted phase, when a sink refuses the
// change. Then the store writes and calls Committed, or Aborted when the write failed.
class ItemEvents {
public:
    ~ItemEvents();
    ItemEvents(const ItemEvents&) = delete;
    ItemEvents& operator=(const ItemEvents&) = delete;

    void Committed();
    void Aborted();

protected:
    enum class Change { Save, Delete };
    ItemEvents(Store& store, PendingSave& item, Change change);
    void BeginPhase();
    std::int32_t ItemFlags() const;

    Store& store_;
    PendingSave& item_;

private:
    struct Called;
    void RunPhase(std::int32_t phase);
    // The registration's event method list names this change's event.
    bool ForThisChange(const std::string& methods) const;
    // Calls the sink's method for this change; a failure or exception goes to the event log.
    void CallSink(Called& called, const std::string& url, std::int32_t flags);

    Change change_;
    std::vector<Called> called_;
};

// The events of one save: the sinks see the item as it will be stored and may still change it.
class SaveEvents final : public ItemEvents {
public:
    SaveEvents(Store& store, PendingSave& save);
    // The registration check (for a registration item that names a sink), then the begin phase.
    void Begin();

private:
    void CheckRegistration();
};

// The events of one delete (OnSyncDelete), for registrations whose method list names
// "onsyncdelete". `item` is the item as stored: the sinks read it but cannot change it. A
// folder's delete is one event, for the folder: the items below it go with it unannounced.
class DeleteEvents final : public ItemEvents {
public:
    DeleteEvents(Store& store, PendingSave& item);
    void Begin() { BeginPhase(); }
};

// Appends one line (UTC time, item URL, ProgID, failure) to the store's event log. A line that
// cannot be written is reported (EventLogFailureReporter), once until a line is written to that
// log again.
void WriteEventLog(const Store& store, const std::string& itemUrl, const std::string& progId,
                   const std::string& failure);

// Hears that the event log could not be written: the log file's path and why. It runs inside
// WriteEventLog, while no other line is written, and must not write the event log itself.
using EventLogFailureReporter =
    std::function<void(const std::string& path, const std::string& reason)>;
// The process's reporter; without one (or after an empty one), standard error is told. Returns
// the one it replaces. A server passes its own log here: the store knows nothing of it.
EventLogFailureReporter SetEventLogFailureReporter(EventLogFailureReporter reporter);

} // namespace platform::store
