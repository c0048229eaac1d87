#pragma once

// Whole entries that an open search's record set holds, by server and DN. A caller who asks a
// search for ADsPaths binds to the rows next, one by one (a window checking every mailbox it
// lists): binding to an entry kept here reads the search's own copy instead of asking the
// server again. An entry is kept only while its record set is open.

#include "platform/directory/LdapConnection.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

namespace platform::directory {

// Every attribute of one entry in a single buffer (names lower-cased, each name and value
// prefixed by its length), so that a search of many thousand entries stays small.
class EntryImage {
public:
    void Add(const std::string& lowerName, const std::vector<std::string>& values);
    LdapConnection::AttributeMap Attributes() const;
    bool Empty() const { return bytes_.empty(); }

private:
    std::string bytes_;
};

class KeptEntries {
public:
    static KeptEntries& Process();

    // Keeps entries of one record set until the lease is released.
    class Lease {
    public:
        Lease(KeptEntries& owner, std::string uri, std::uint64_t id)
            : owner_(owner), uri_(std::move(uri)), id_(id) {}
        ~Lease();
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        void Keep(const std::string& dn, std::shared_ptr<const EntryImage> entry);

    private:
        KeptEntries& owner_;
        std::string uri_;
        std::uint64_t id_;
        std::vector<std::string> keys_;
    };

    std::shared_ptr<Lease> NewLease(const std::string& uri);
    // The attributes of the entry `dn` on the server `uri`, when an open record set keeps it.
    std::optional<LdapConnection::AttributeMap> Find(const std::string& uri, const std::string& dn);
    std::size_t Size();

private:
    struct Kept {
        std::uint64_t lease;
        std::shared_ptr<const EntryImage> entry;
    };

    std::mutex mutex_;
    std::uint64_t nextLease_ = 1;
    std::unordered_map<std::string, Kept> entries_;
};

} // namespace platform::directory
