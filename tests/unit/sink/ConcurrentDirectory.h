#pragma once

// A directory double that several threads may query at once: it answers each owner query with
// the proxy addresses of the mailbox named in the query's mail filter, from fixed data.

#include "platform/core/ObjectFactory.h"

#include <atomic>
#include <map>
#include <string>
#include <vector>

namespace sinktest {

class ConcurrentDirectory {
public:
    // Mailbox name -> its proxy addresses (with their "smtp:" prefixes).
    explicit ConcurrentDirectory(std::map<std::string, std::vector<std::string>> mailboxes);
    ~ConcurrentDirectory();
    ConcurrentDirectory(const ConcurrentDirectory&) = delete;
    ConcurrentDirectory& operator=(const ConcurrentDirectory&) = delete;

    int Queries() const { return queries_->load(); }

private:
    std::shared_ptr<const std::map<std::string, std::vector<std::string>>> mailboxes_;
    std::shared_ptr<std::atomic<int>> queries_ = std::make_shared<std::atomic<int>>(0);
    platform::ScopedObjectFactory systemInfo_;
};

} // namespace sinktest
