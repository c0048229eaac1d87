#pragma once

// What the IMAP protocol needs of the mail server behind it: checking a login, the logged-in
// user's folders, and the messages of a folder with their UIDs, flags and keywords. Calls may
// block (directory binds, store reads); failures are thrown as exceptions and become NO.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace server::imap {

struct MessageSummary {
    std::uint32_t uid = 0;
    unsigned flags = 0;                // SystemFlag bits
    std::vector<std::string> keywords; // the store's keywords, as stored
    long long internalDate = 0;        // seconds since 1970, UTC: when the message arrived
    std::uint64_t size = 0;            // octets of the message as FETCH returns it
    std::string header;                // the header block with the empty line that ends it
    // The ENVELOPE, when the backend keeps it made already (it is then shared, not copied).
    std::shared_ptr<const std::string> envelope;
};

struct FolderSnapshot {
    std::uint32_t uidValidity = 0;
    std::uint32_t uidNext = 0;
    std::vector<MessageSummary> messages; // ascending UIDs
};

enum class LoginOutcome { Accepted, Refused };

class Backend {
public:
    virtual ~Backend() = default;

    // Checks the password of the user that `name` (an SMTP address or a logon name) stands for;
    // on success the backend serves that user's mailbox from now on.
    virtual LoginOutcome Login(const std::string& name, const std::string& password) = 0;

    // Paths of the user's folders below the mailbox root, "/" between steps ("Inbox",
    // "Inbox/Lists", "Sent Items"), parents before their children.
    virtual std::vector<std::string> Folders() = 0;

    // The folder's messages; null when it does not exist. Shared, never changed once made: a
    // backend may hand the same list to every session that opens the folder.
    virtual std::shared_ptr<const FolderSnapshot> Open(const std::string& folder) = 0;

    // The whole message as a client receives it (header block, empty line, body); nothing when
    // it has gone.
    virtual std::optional<std::string> Message(const std::string& folder, std::uint32_t uid) = 0;

    // Saves new flags and keywords through the store (its events run as for any save); false
    // when the message has gone.
    virtual bool SetFlags(const std::string& folder, std::uint32_t uid, unsigned flags,
                          const std::vector<std::string>& keywords) = 0;

    // Removes the messages (those already gone are skipped).
    virtual void Remove(const std::string& folder, const std::vector<std::uint32_t>& uids) = 0;
};

} // namespace server::imap
