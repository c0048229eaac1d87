#pragma once

// A save whose begin-phase events (where sinks may ask the directory) run before the write
// transaction, so that concurrent saves do that work side by side and hold the database's write
// lock only for the write itself. What the events see and promise stays as for Store::Save: the
// sinks see the item as it will be stored, what they change is written with it in one
// transaction, a refusal writes nothing, and the end phase runs once the write is committed.

#include "platform/store/EventService.h"
#include "platform/store/Store.h"

#include <memory>

namespace platform::store {

class PreparedSave {
public:
    // Runs the begin phase on `store` (no transaction needed). Throws E_ABORT, after the
    // aborted phase, when a sink refuses the change. `store` must outlive this object.
    PreparedSave(Store& store, PendingSave save);
    // A save prepared but neither committed nor aborted is aborted.
    ~PreparedSave();
    PreparedSave(const PreparedSave&) = delete;
    PreparedSave& operator=(const PreparedSave&) = delete;

    // Writes the item as the sinks left it, inside the transaction open on `store` (a store of
    // the same file) or in one of its own. Fails when its folder has gone meanwhile.
    void Write(Store& store);
    // Once the transaction that holds the write is on disk: the end phase.
    void Committed();
    // When it is not (the write or its transaction failed): the aborted phase.
    void Aborted();

    const PendingSave& Save() const { return save_; }

private:
    PendingSave save_;
    SaveEvents events_;
    bool ended_ = false;
};

} // namespace platform::store
