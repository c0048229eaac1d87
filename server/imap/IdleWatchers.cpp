// The registry of idling sessions by watched folder (IdleWatchers.h).

#include "server/imap/IdleWatchers.h"

namespace server::imap {

IdleWatchers::Id IdleWatchers::Watch(const std::string& token, std::function<void()> wake) {
    const auto id = next_++;
    watchers_[token].emplace(id, std::move(wake));
    tokens_.emplace(id, token);
    return id;
}

void IdleWatchers::Unwatch(Id id) {
    const auto found = tokens_.find(id);
    if (found == tokens_.end())
        return;
    const auto folder = watchers_.find(found->second);
    folder->second.erase(id);
    if (folder->second.empty())
        watchers_.erase(folder);
    tokens_.erase(found);
}

void IdleWatchers::Notify(const std::vector<std::string>& tokens) {
    // A woken session may unwatch (or watch again) at once: the wakes are taken first.
    std::vector<std::function<void()>> wakes;
    const auto take = [&](const std::map<Id, std::function<void()>>& watchers) {
        for (const auto& [id, wake] : watchers)
            wakes.push_back(wake);
    };
    bool all = false;
    for (const auto& token : tokens)
        all = all || token.empty();
    if (all) {
        for (const auto& [token, watchers] : watchers_)
            take(watchers);
    } else {
        for (const auto& token : tokens)
            if (const auto found = watchers_.find(token); found != watchers_.end())
                take(found->second);
    }
    for (const auto& wake : wakes)
        wake();
}

} // namespace server::imap
