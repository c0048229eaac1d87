#pragma once

// Passwords of mailbox users, checked and set the way mail servers do it against LDAP or Active
// Directory: the login name (an SMTP address or a logon name) is looked up in the directory as
// the tools' own identity, then the password is checked by a simple bind as that entry. The
// directory server keeps passwords as salted hashes (slapd's Password Modify operation).

#include "platform/host/ServerFolder.h"

#include <chrono>
#include <optional>
#include <string>

namespace server::login {

struct DirectoryUser {
    std::string dn;
    std::string alias; // the mailbox's name in the store
};

// What a password check found: the user the name stands for (also when the password was wrong;
// the login throttle counts all of a user's names as one account) and whether it was theirs.
struct CheckedLogin {
    std::optional<DirectoryUser> user;
    bool accepted = false;
};

class DirectoryLogin {
public:
    // `lookupTimeout`: how long one Check may wait for the directory in all (its searches and
    // binds); none of its own when zero, only the directory client's usual limits.
    explicit DirectoryLogin(const platform::host::ServerFolder& folder,
                            std::chrono::milliseconds lookupTimeout = {});

    // The enabled user with a mailbox on this server whose SMTP address (any prefix case) or
    // logon name is `name`; nothing when there is none or more than one. Fails with
    // platform::Error when the directory cannot be asked.
    std::optional<DirectoryUser> FindUser(const std::string& name) const;
    // The user whose mailbox alias is `alias` (enabled or not).
    std::optional<DirectoryUser> FindByAlias(const std::string& alias) const;

    // The user `name` stands for, and whether the password is theirs. An empty password never
    // is (an empty simple bind would be an anonymous one). Fails with platform::Error when the
    // directory cannot be asked or has not answered within the lookup timeout.
    CheckedLogin Check(const std::string& name, const std::string& password) const;

    // Gives the entry a new password, which the directory server stores as a salted hash.
    void SetPassword(const std::string& dn, const std::string& password) const;

private:
    using Clock = std::chrono::steady_clock;
    std::optional<DirectoryUser> FindOne(const std::string& filter,
                                         std::optional<Clock::time_point> deadline = {}) const;
    std::optional<DirectoryUser> FindUser(const std::string& name,
                                          std::optional<Clock::time_point> deadline) const;

    std::chrono::milliseconds lookupTimeout_;
    std::string uri_;
    std::string baseDn_;
    std::string computerName_;
};

} // namespace server::login
