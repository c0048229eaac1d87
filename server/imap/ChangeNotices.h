#pragma once

// How the server hears that folders changed, so that an idling client learns of new mail at
// once rather than at its next look: a source (the store's, in server/mailstore) calls each
// listener with the change tokens (Backend::ChangeToken) of the folders that changed, or with
// an empty token when any folder may have.

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace server::imap {

class ChangeNotices {
public:
    using Listener = std::function<void(const std::vector<std::string>& tokens)>;
    virtual ~ChangeNotices() = default;
    // `listener` is called, on a thread of the source's, until the returned subscription is
    // released; releasing it waits for a call under way.
    virtual std::shared_ptr<void> Listen(Listener listener) = 0;
};

} // namespace server::imap
