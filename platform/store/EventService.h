#pragma once

// The store's event service: on every save it runs the synchronous save events of the
// registration items that apply, creating each sink by the ProgID the item names.
//
// A registration applies to a save when it lies
//   - in the saved item's folder with match scope "SHALLOW",
//   - in the saved item's folder or any folder above it with match scope "DEEP",
//   - in the saved item itself (a folder) with match scope "EXACT",
//   - in "StoreEvents/GlobalEvents" of a system mailbox of the store with match scope "ANY",
// its event method names "onsyncsave", it is not disabled, and its criteria (a WHERE clause of
// the store's query dialect) hold for the item. Sinks run by ascending priority.

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

// The events of one save. Begin runs the registration check (for a registration item that
// names a sink) and the begin phase; it throws E_ABORT, after running the aborted phase, when
// a sink refuses the change. Then the store writes and calls Committed, or Aborted when the
// write failed.
class SaveEvents {
public:
    SaveEvents(Store& store, PendingSave& save);
    ~SaveEvents();

    void Begin();
    void Committed();
    void Aborted();

private:
    struct Called;
    void RunPhase(std::int32_t phase);
    void CheckRegistration();
    std::int32_t ItemFlags() const;

    Store& store_;
    PendingSave& save_;
    std::vector<Called> called_;
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
