#pragma once

// The idling sessions of a server by the folder they watch (its change token), so that a change
// notice wakes only the sessions of that folder. Used on the server's network thread only.

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

namespace server::imap {

class IdleWatchers {
public:
    using Id = std::uint64_t;

    // `wake` runs for every notice naming `token` (or naming none) until Unwatch.
    Id Watch(const std::string& token, std::function<void()> wake);
    void Unwatch(Id id);
    // Wakes the watchers of each token; an empty token wakes them all.
    void Notify(const std::vector<std::string>& tokens);
    std::size_t Count() const { return tokens_.size(); }

private:
    std::unordered_map<std::string, std::map<Id, std::function<void()>>> watchers_;
    std::unordered_map<Id, std::string> tokens_;
    Id next_ = 1;
};

} // namespace server::imap
