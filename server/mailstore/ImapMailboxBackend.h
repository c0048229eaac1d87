#pragma once

// The IMAP front's view of the server: logins checked against the directory (DirectoryLogin.h),
// then the user's own mailbox in the store. Messages are the mail folders' message items, numbered
// by the store; flags and keywords are item properties, and changing them is a save through the
// store, so that its events run as for any other save. One backend per session, with its own
// store connection.

#include "server/imap/ImapBackend.h"
#include "server/login/DirectoryLogin.h"

#include "platform/host/ServerFolder.h"
#include "platform/store/Store.h"

#include <chrono>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace server::mailstore {

// Which logins succeed; overridable so that tests and benchmarks can log in without a
// directory.
class LoginCheck {
public:
    virtual ~LoginCheck() = default;
    // The user `name` stands for, and whether the password is theirs.
    virtual login::CheckedLogin Check(const std::string& name, const std::string& password) = 0;
};

// Checks against the private directory server, waiting at most `lookupTimeout` for it (none of
// its own when zero).
class DirectoryLoginCheck : public LoginCheck {
public:
    explicit DirectoryLoginCheck(const platform::host::ServerFolder& folder,
                                 std::chrono::milliseconds lookupTimeout = {})
        : login_(folder, lookupTimeout) {}
    login::CheckedLogin Check(const std::string& name, const std::string& password) override;

private:
    login::DirectoryLogin login_;
};

// The folders' message lists as last read, shared by the sessions of one server, so that a
// SELECT of an unchanged folder reads only its change count from the store. Bounded: the lists
// used least recently go once those kept hold more than `budget` octets (a list a session still
// holds lives on with it, and is read again by the next that needs it).
class FolderCache {
public:
    explicit FolderCache(std::size_t budget = 64 * 1024 * 1024) : budget_(budget) {}

    // The list read when the folder's change count was `changes`, if that is the one kept.
    std::shared_ptr<const imap::FolderSnapshot> Find(const std::string& folderKey,
                                                     std::int64_t changes);
    // The list kept for the folder, whatever its count: a base to bring up to date.
    struct Kept {
        std::int64_t changes = -1;
        std::shared_ptr<const imap::FolderSnapshot> snapshot;
    };
    Kept Latest(const std::string& folderKey);
    void Keep(const std::string& folderKey, std::int64_t changes,
              std::shared_ptr<const imap::FolderSnapshot> snapshot);
    // Octets the kept lists hold, as estimated.
    std::size_t Held();

private:
    struct Entry {
        std::int64_t changes = -1;
        std::shared_ptr<const imap::FolderSnapshot> snapshot;
        std::size_t octets = 0;
        std::list<std::string>::iterator use; // its place in uses_
    };
    const std::size_t budget_;
    std::mutex mutex_;
    std::map<std::string, Entry> entries_;
    std::list<std::string> uses_; // folder keys, the most recently used first
    std::size_t held_ = 0;
};

// What a folder's message list holds in memory, roughly.
std::size_t OctetsOf(const imap::FolderSnapshot& snapshot);

class ImapMailboxBackend : public imap::Backend {
public:
    ImapMailboxBackend(platform::host::ServerFolder folder, std::shared_ptr<LoginCheck> logins,
                       std::shared_ptr<FolderCache> cache = std::make_shared<FolderCache>());
    ~ImapMailboxBackend() override;

    imap::LoginAnswer Login(const std::string& name, const std::string& password) override;
    std::vector<imap::FolderEntry> Folders() override;
    std::optional<std::string> FolderPath(const std::string& path) override;
    imap::FolderOutcome CreateFolder(const std::string& path) override;
    imap::FolderOutcome DeleteFolder(const std::string& path) override;
    imap::FolderOutcome RenameFolder(const std::string& from, const std::string& to) override;
    std::vector<std::string> Subscriptions() override;
    void SetSubscribed(const std::string& name, bool subscribed) override;
    std::shared_ptr<const imap::FolderSnapshot> Open(const std::string& folder) override;
    std::string ChangeToken(const std::string& folder) override;
    std::optional<std::string> Message(const std::string& folder, std::uint32_t uid) override;
    std::vector<std::optional<std::string>>
    Messages(const std::string& folder, const std::vector<std::uint32_t>& uids) override;
    std::optional<std::string> MessageRange(const std::string& folder, std::uint32_t uid,
                                            std::uint64_t offset, std::uint64_t count) override;
    imap::FlagSave SaveFlags(const std::string& folder, std::uint32_t uid, unsigned flags,
                             const std::vector<std::string>& keywords,
                             std::optional<std::uint64_t> unchangedSince) override;
    std::uint32_t RecentFrom(const std::string& folder, std::uint32_t uidNext, bool take) override;
    void Remove(const std::string& folder, const std::vector<std::uint32_t>& uids) override;
    std::optional<imap::SavedMessages>
    Append(const std::string& folder, const std::vector<imap::NewMessage>& messages) override;
    std::optional<imap::SavedMessages> Copy(const std::string& from,
                                            const std::vector<std::uint32_t>& uids,
                                            const std::string& to) override;

private:
    // Runs `work` in one write transaction of the session's store, undone when it fails.
    template <class Work> void InTransaction(Work&& work);
    bool FolderExists(const std::string& path);
    // Makes the folders above `path` that are missing.
    void MakeParents(const std::string& path);
    // The URL of the message with that number, if it is still there.
    std::optional<std::string> MessageUrl(const std::string& folder, std::uint32_t uid);
    std::string FolderUrl(const std::string& folder) const;
    // The folder's list brought up to date from one made when its change count was `since`,
    // reading only the items changed since; null when that cannot be trusted.
    std::shared_ptr<const imap::FolderSnapshot>
    Refreshed(const platform::store::ItemLocation& location, const imap::FolderSnapshot& earlier,
              std::int64_t since);

    platform::host::ServerFolder folder_;
    std::shared_ptr<LoginCheck> logins_;
    std::shared_ptr<FolderCache> cache_;
    std::shared_ptr<platform::store::Store> store_;
    std::string mailboxUrl_;                // set once logged in
    platform::store::ItemLocation mailbox_; // as found at login
};

// The message as a client receives it: the stored header block, an empty line, the body.
std::string MessageBytes(const std::string& header, const std::string& body);

} // namespace server::mailstore
