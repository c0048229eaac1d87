#pragma once

// What the IMAP protocol needs of the mail server behind it: checking a login, the logged-in
// user's folders, and the messages of a folder with their UIDs, flags and keywords. Calls may
// block (directory binds, store reads); failures are thrown as exceptions and become NO.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace server::imap {

struct MessageSummary {
    std::uint32_t uid = 0;
    unsigned flags = 0;                // SystemFlag bits
    std::vector<std::string> keywords; // the store's keywords, as stored
    long long internalDate = 0;        // seconds since 1970, UTC: when the message arrived
    std::uint64_t size = 0;            // octets of the message as FETCH returns it
    // The header block with the empty line that ends it; shared, as every session that selects
    // the folder holds the message.
    std::shared_ptr<const std::string> header = std::make_shared<const std::string>();
    // RFC 7162's mod-sequence: grows with every change of the message (from 1; the folder's
    // HIGHESTMODSEQ is at least every message's).
    std::uint64_t modseq = 1;
    // The ENVELOPE, when the backend keeps it made already (it is then shared, not copied).
    std::shared_ptr<const std::string> envelope;
};

struct FolderSnapshot {
    std::uint32_t uidValidity = 0;
    std::uint32_t uidNext = 0;
    std::vector<MessageSummary> messages; // ascending UIDs
    std::uint64_t highestModseq = 1;      // RFC 7162's HIGHESTMODSEQ
};

enum class LoginOutcome { Accepted, Refused };

// A login's outcome, and the account the name stands for when the backend knows one (also when
// refused), so that the login throttle counts the tries of all of an account's names together.
struct LoginAnswer {
    LoginOutcome outcome = LoginOutcome::Refused;
    std::string account;
};

struct FolderEntry {
    std::string path;       // below the mailbox root, "/" between steps ("Inbox/Lists")
    std::string specialUse; // RFC 6154's attribute ("\\Sent"), empty for an ordinary folder
};

// How a change to the folders ended, when it did not fail outright.
enum class FolderOutcome { Done, AlreadyExists, NoSuchFolder, HasSubfolders };

// Where saved messages went: the destination's UIDVALIDITY and the new UIDs, in order; for a
// copy also the UIDs they were copied from, in the same order.
struct SavedMessages {
    std::uint32_t uidValidity = 0;
    std::vector<std::uint32_t> uids;
    std::vector<std::uint32_t> sources;
};

// How a save of flags ended: saved (with the message's new mod-sequence), refused because the
// message changed after the mod-sequence the save was conditional on, or the message has gone.
struct FlagSave {
    enum class Outcome { Saved, Modified, Gone };
    Outcome outcome = Outcome::Gone;
    std::uint64_t modseq = 0;
};

// A message to save into a folder, as APPEND gives it.
struct NewMessage {
    // The octets of the command's literal, not a copy of them: valid while Append runs (a
    // message may be as large as the server takes).
    std::string_view bytes;
    unsigned flags = 0;
    std::vector<std::string> keywords;
    std::optional<long long> internalDate; // seconds since 1970, UTC; now when not given
};

class Backend {
public:
    virtual ~Backend() = default;

    // Checks the password of the user that `name` (an SMTP address or a logon name) stands for;
    // on success the backend serves that user's mailbox from now on.
    virtual LoginAnswer Login(const std::string& name, const std::string& password) = 0;

    // The user's folders ("Inbox", "Inbox/Lists", "Sent"), parents before their children.
    virtual std::vector<FolderEntry> Folders() = 0;
    // The path of the folder `path` names in any letter case, spelled as Folders() spells it;
    // nothing when there is no such folder.
    virtual std::optional<std::string> FolderPath(const std::string& path) = 0;

    // Makes the folder, and the folders above it that are missing.
    virtual FolderOutcome CreateFolder(const std::string& path) = 0;
    // Removes a folder with its messages; one with subfolders stays (HasSubfolders).
    virtual FolderOutcome DeleteFolder(const std::string& path) = 0;
    // Gives a folder, with what is below it, a new path (missing parents are made); the Inbox
    // itself stays, and only its messages move into the new folder.
    virtual FolderOutcome RenameFolder(const std::string& from, const std::string& to) = 0;

    // The mailbox names the user subscribed to, as the client wrote them (they need not exist).
    virtual std::vector<std::string> Subscriptions() = 0;
    virtual void SetSubscribed(const std::string& name, bool subscribed) = 0;

    // The folder's messages; null when it does not exist. Shared, never changed once made: a
    // backend may hand the same list to every session that opens the folder.
    virtual std::shared_ptr<const FolderSnapshot> Open(const std::string& folder) = 0;

    // What change notices (ChangeNotices.h) call the folder; empty when none tell of it, and an
    // idling client's folder is then only looked at now and then.
    virtual std::string ChangeToken(const std::string& folder) {
        (void)folder;
        return {};
    }

    // The whole message as a client receives it (header block, empty line, body); nothing when
    // it has gone.
    virtual std::optional<std::string> Message(const std::string& folder, std::uint32_t uid) = 0;

    // The whole messages with these UIDs, as Message gives them, read together: for each UID
    // asked, in that order, the message, or nothing when it has gone. The caller bounds their
    // total size (FETCH asks in batches).
    virtual std::vector<std::optional<std::string>>
    Messages(const std::string& folder, const std::vector<std::uint32_t>& uids) = 0;
    // Up to `count` octets of the message as Message gives it, from `offset` on (fewer at its
    // end, none past it), reading only those; nothing when it has gone.
    virtual std::optional<std::string> MessageRange(const std::string& folder, std::uint32_t uid,
                                                    std::uint64_t offset, std::uint64_t count) = 0;

    // Saves new flags and keywords through the store (its events run as for any save); with
    // `unchangedSince`, only while the message's mod-sequence is at most that, checked in the
    // save itself (STORE's UNCHANGEDSINCE).
    virtual FlagSave SaveFlags(const std::string& folder, std::uint32_t uid, unsigned flags,
                               const std::vector<std::string>& keywords,
                               std::optional<std::uint64_t> unchangedSince) = 0;
    // The same without a condition: the new mod-sequence, nothing when the message has gone.
    std::optional<std::uint64_t> SetFlags(const std::string& folder, std::uint32_t uid,
                                          unsigned flags,
                                          const std::vector<std::string>& keywords) {
        const auto saved = SaveFlags(folder, uid, flags, keywords, std::nullopt);
        if (saved.outcome != FlagSave::Outcome::Saved)
            return std::nullopt;
        return saved.modseq;
    }

    // The lowest UID of the folder's messages that are \Recent for the caller: those below
    // `uidNext` that no session has taken yet (`uidNext` when there are none). With `take` they
    // are the caller's alone from now on (a read-write SELECT, or a session that learns of them
    // first); without, they stay for the next to take (EXAMINE, STATUS).
    virtual std::uint32_t RecentFrom(const std::string& folder, std::uint32_t uidNext,
                                     bool take) = 0;

    // Removes the messages (those already gone are skipped).
    virtual void Remove(const std::string& folder, const std::vector<std::uint32_t>& uids) = 0;

    // Saves the messages as new ones into the folder (a save, not a delivery); nothing when the
    // folder does not exist.
    virtual std::optional<SavedMessages> Append(const std::string& folder,
                                                const std::vector<NewMessage>& messages) = 0;
    // Copies messages, with their flags, keywords and dates, into another folder; those gone
    // meanwhile are left out. Nothing when the destination does not exist.
    virtual std::optional<SavedMessages> Copy(const std::string& from,
                                              const std::vector<std::uint32_t>& uids,
                                              const std::string& to) = 0;
};

} // namespace server::imap
