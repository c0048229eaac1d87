#pragma once

// One bound LDAP connection and the searches run on it.

#include "platform/directory/DirectoryQuery.h"

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct ldap;

namespace platform::directory {

class EntryImage;

struct LdapEntry {
    std::string dn;
    // Values of each attribute asked for, in the order asked; no values when the entry lacks it.
    std::vector<std::vector<std::string>> values;
    // Every attribute, when the search was asked for whole entries.
    std::shared_ptr<const EntryImage> whole;
};

class LdapConnection {
public:
    // Connects and binds: SASL EXTERNAL over ldapi://, an anonymous simple bind otherwise.
    // Fails with ERROR_DS_SERVER_DOWN when the server cannot be reached, or has not answered
    // within the usual time limits or `timeLimit`, when that is shorter.
    explicit LdapConnection(std::string uri, std::chrono::milliseconds timeLimit = {});
    ~LdapConnection();
    LdapConnection(const LdapConnection&) = delete;
    LdapConnection& operator=(const LdapConnection&) = delete;

    const std::string& Uri() const { return uri_; }

    // False once it failed in a way that may have left it unusable: it is then closed when
    // released instead of being kept for reuse.
    bool reusable = true;
    ldap* Handle() { return ld_; }

    // A base search of one entry with the named attributes ("*" and "+" allowed); nothing when
    // the entry does not exist.
    std::optional<LdapEntry> ReadEntry(const std::string& dn,
                                       const std::vector<std::string>& attributes);

    // Every attribute of one entry (operational ones too when asked), by lower-case name;
    // nothing when the entry does not exist.
    using AttributeMap = std::map<std::string, std::vector<std::string>>;
    std::optional<AttributeMap> ReadAllAttributes(const std::string& dn, bool withOperational);

    // Gives the entry a new password through the Password Modify operation, which the server
    // stores as it keeps passwords (slapd: a salted hash).
    void ChangePassword(const std::string& dn, const std::string& password);

private:
    std::string uri_;
    ldap* ld_ = nullptr;
};

// Whether `password` is the entry's: a simple bind as `dn` on a connection of its own (a bind
// changes who a connection is, so never a pooled one), with the time limits of every other
// connection, or `timeLimit` when that is shorter. An empty password never is. Fails with the
// directory's error when the server cannot be reached or cannot tell.
bool CheckPassword(const std::string& uri, const std::string& dn, const std::string& password,
                   std::chrono::milliseconds timeLimit = {});

struct SearchOptions {
    SearchScope scope = SearchScope::Subtree;
    int pageSize = 0;  // 0: one unpaged search
    int sizeLimit = 0; // 0: no limit of our own
    int timeLimitSeconds = 0;
    bool chaseReferrals = false;
    // Also read every attribute the server returns (the user attributes, and any operational
    // one asked for) into LdapEntry::whole.
    bool wholeEntries = false;
};

// A search that hands out its entries a page at a time. The connection must outlive it.
class LdapSearch {
public:
    LdapSearch(std::shared_ptr<LdapConnection> connection, std::string base, std::string filter,
               std::vector<std::string> attributes, SearchOptions options);
    ~LdapSearch();
    LdapSearch(const LdapSearch&) = delete;
    LdapSearch& operator=(const LdapSearch&) = delete;

    // Appends the next page's entries; false once every entry has been handed out.
    bool NextPage(std::vector<LdapEntry>& entries);
    bool Done() const { return done_; }

private:
    void StartRequest();
    void Abandon();
    std::string Describe() const;

    std::shared_ptr<LdapConnection> connection_;
    std::string base_;
    std::string filter_;
    std::vector<std::string> attributes_;
    SearchOptions options_;
    std::optional<std::chrono::steady_clock::time_point> deadline_;
    std::string cookie_;
    int messageId_ = -1;
    std::size_t delivered_ = 0;
    bool done_ = false;
};

} // namespace platform::directory
