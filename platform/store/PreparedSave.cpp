// Splits a save into its begin phase, the write and the end phase, so that the events run outside
// the write transaction and only the write holds the database's lock.

#include "platform/store/PreparedSave.h"

namespace platform::store {

PreparedSave::PreparedSave(Store& store, PendingSave save)
    : save_(std::move(save)), events_(store, save_) {
    try {
        events_.Begin();
    } catch (...) {
        // Begin ran the aborted phase itself.
        ended_ = true;
        throw;
    }
}

PreparedSave::~PreparedSave() {
    if (ended_)
        return;
    try {
        events_.Aborted();
    } catch (...) {
        // Sinks' failures in the aborted phase are logged by the event service; nothing to undo.
    }
}

void PreparedSave::Write(Store& store) {
    store.Write(save_);
}

void PreparedSave::Committed() {
    ended_ = true;
    events_.Committed();
}

void PreparedSave::Aborted() {
    ended_ = true;
    events_.Aborted();
}

} // namespace platform::store
