#pragma once

// The embedded store: domain folders, mailboxes, folders and items with their properties, kept
// in one SQLite database in the server folder's store directory. Items are addressed by URL in
// either form (StoreUrl.h); names compare without regard to letter case. Every save and delete
// runs the store's synchronous events (EventService.h).
//
// A property an item does not carry reads as an empty value (never an error); writing a value
// to it creates it, and writing an empty value removes it.

#include "platform/core/Variant.h"
#include "platform/store/PropertyNames.h"
#include "platform/store/StoreUrl.h"

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace platform::host {
class ServerFolder;
}

namespace platform::store {

class Database;

using PropertyMap = std::map<std::string, Variant>;

inline const std::string kInboxName = "Inbox";
inline const std::string kGlobalEventsPath = "StoreEvents/GlobalEvents";

// Where a URL points, once its domain folder and mailbox are known to exist.
struct ItemLocation {
    StoreUrl url;
    std::string domainName;  // as the store spells it
    std::string mailboxName; // as the store spells it; empty above the mailboxes
    std::string key;         // folded "domain/mailbox/folder/item"
    std::string parentKey;   // key of the folder holding the item
    std::string name;        // the item's own name as the URL spells it

    // The URL in the form it was given, empty segments dropped.
    std::string Url() const { return FormatStoreUrl(url); }
    bool IsMailboxRoot() const { return url.path.empty(); }
};

struct Item {
    std::int64_t id = 0;
    std::string key;
    std::string parentKey;
    bool isFolder = false;
    PropertyMap properties;
};

// How mail clients number a folder's items (IMAP UIDs): every item gets the folder's next number
// when it is made, so numbers only ever grow, and are kept with the item. The validity changes
// only if a folder's numbers ever had to start over, which they never do here.
struct FolderNumbers {
    std::int64_t validity = 0;
    std::int64_t next = 1;
    // Grows with every change to the folder's items (made, saved, deleted), so that a reader
    // can tell whether what it read earlier still holds.
    std::int64_t changes = 0;
};

struct NumberedItem {
    std::int64_t number = 0;
    std::int64_t received = 0; // seconds since 1970, UTC: when the item was made
    // The folder's FolderNumbers::changes as the item's last save (or its making) left it: a
    // reader that knew the folder at a count of n has seen the item as it is when this is <= n.
    std::int64_t changed = 0;
    Item item;
    std::map<std::string, std::int64_t> sizes;
};

// One save in progress: what the event sinks see and may still change.
struct PendingSave {
    ItemLocation location;
    bool isNew = false;
    bool isFolder = false;
    bool delivered = false;
    PropertyMap properties;        // the item as it will be stored
    std::set<std::string> changed; // names this save writes (every name, for a new item)
    // For a new item: when it arrived, in seconds since 1970, UTC (NumberedItem::received); the
    // time of the save when unset. A mail client's APPEND names one, a COPY keeps the source's.
    std::optional<std::int64_t> received;
    // Set by a save that makes a new non-folder item: the number its folder gave it.
    std::int64_t number = 0;
    // For a save of an existing numbered item: stored only while the item's
    // NumberedItem::changed is still at most this, else the save fails with
    // DB_E_CONCURRENCYVIOLATION and stores nothing (a reader's "unless changed since").
    std::optional<std::int64_t> unchangedSince;
    // Set by the save of a numbered item: its NumberedItem::changed now.
    std::int64_t changedAt = 0;

    void Set(const std::string& name, const Variant& value);
};

class Store {
public:
    // The store of a server folder: <root>/store/store.db, server names from machine.conf.
    static std::shared_ptr<Store> Open(const host::ServerFolder& folder);
    // The store of the server folder that EXHOST_ROOT names.
    static std::shared_ptr<Store> OpenFromEnvironment();

    Store(const std::filesystem::path& storeDir, ServerNames server);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // The database pages this store keeps in memory, at most (SQLite's cache; about 2 MiB
    // unless told): a server with a store per session keeps each one small.
    void LimitCache(std::size_t kibibytes);

    const ServerNames& Server() const { return server_; }
    const std::filesystem::path& Directory() const { return directory_; }
    std::filesystem::path EventLogFile() const { return directory_ / "events.log"; }

    // --- Administration (what the server's admin tool does) ---

    void CreateDomainFolder(const std::string& name);
    // The namespace root listing: domain folder names, the first created first.
    std::vector<std::string> DomainFolders();
    // Creates the mailbox with its Inbox; returns the mailbox URL in the given form.
    std::string CreateMailbox(const std::string& domain, const std::string& alias,
                              UrlForm form = UrlForm::File);
    // Creates "SystemMailbox{GUID}" with "StoreEvents/GlobalEvents"; returns its URL.
    std::string CreateSystemMailbox(const std::string& domain, UrlForm form = UrlForm::File);
    // Mailbox names of a domain folder, the first created first.
    std::vector<std::string> Mailboxes(const std::string& domain);
    // The store's spelling of the mailbox `alias` of a domain folder, if there is one.
    std::optional<std::string> FindMailbox(const std::string& domain, const std::string& alias);
    // Creates a folder whose parent exists; fails when something of that name exists.
    void CreateFolder(const std::string& url);

    // --- Items ---

    // Fails when the URL is malformed, names another server, an unknown domain folder or an
    // unknown mailbox.
    ItemLocation Locate(const std::string& url);
    std::optional<Item> Find(const ItemLocation& location);
    // Fails with DB_E_NOTFOUND naming the URL when the item does not exist.
    Item Read(const ItemLocation& location);
    bool Exists(const ItemLocation& location);
    // The path below its mailbox ("Inbox/Lists") of the folder at `location`, spelled as when
    // it was made (the location may differ in letter case); nothing when no folder is there.
    std::optional<std::string> FolderPath(const ItemLocation& location);
    // Saves through the event service. Fails (storing nothing) when a sink refuses.
    void Save(PendingSave& save);
    // A new non-folder item that replaces whatever had that URL; the parent folder must exist.
    PendingSave NewItem(const ItemLocation& location);
    // Deletes the item and everything below it through the event service (one delete event, for
    // the item itself). Fails when it does not exist, and (deleting nothing) when a sink refuses.
    void Delete(const std::string& url);
    // Deletes the folder's items (not folders) with these numbers in one write (inside the open
    // transaction, if there is one), each with its delete events; numbers of items gone already
    // are skipped. All or nothing: when a sink refuses one (E_ABORT), none is deleted.
    void DeleteItems(const std::string& folderUrl, const std::vector<std::int64_t>& numbers);
    // Moves a folder and everything below it to `toUrl` in the same mailbox: a new name, a new
    // parent folder, or both. Items keep their numbers and folders their FolderNumbers (so mail
    // clients' numbers stay valid); registrations below move with it; no events run. Changing
    // only the letter case of the name is a rename too. Fails, changing nothing, when the source
    // is not an existing folder (DB_E_NOTFOUND) or is a mailbox root (E_INVALIDARG), the target
    // exists (DB_E_RESOURCEEXISTS) or its parent folder does not (DB_E_NOTFOUND), or the target
    // is below the source or in another mailbox (E_INVALIDARG).
    void RenameFolder(const std::string& fromUrl, const std::string& toUrl);
    // The items in a folder (deep: and in all folders below it), in the order they were made.
    std::vector<Item> Children(const ItemLocation& folder, bool deep);
    // Registration items (content class "urn:content-class:storeeventreg") directly in a folder.
    std::vector<Item> RegistrationItemsIn(const std::string& folderKey);
    // Keys of the "StoreEvents/GlobalEvents" folders of the store's system mailboxes.
    std::vector<std::string> GlobalEventFolders();
    // The URL of a stored item in the form and host of `like`.
    std::string UrlOf(const std::string& key, const StoreUrl& like);

    // --- Numbers for mail clients ---

    // The items (not folders) directly in the folder, by ascending number, with the properties
    // named in `names`; of those in `sizesOnly` only the size in bytes is read, into `sizes`.
    // Items made by an older store, which have no number yet, get theirs now, in the order they
    // were made.
    std::vector<NumberedItem> NumberedItems(const ItemLocation& folder, FolderNumbers& numbers,
                                            const std::set<std::string>& names,
                                            const std::set<std::string>& sizesOnly = {});
    // The folder's items changed after the count `since` (made or saved since: their
    // NumberedItem::changed is higher), read as NumberedItems reads them, and in `present` the
    // numbers of all its items now, ascending; one state of the store. A reader that holds the
    // folder's items as they stood at `since` brings them up to date without reading the others.
    std::vector<NumberedItem>
    NumberedItemsChangedSince(const ItemLocation& folder, std::int64_t since,
                              FolderNumbers& numbers, std::vector<std::int64_t>& present,
                              const std::set<std::string>& names,
                              const std::set<std::string>& sizesOnly = {});
    // The folder's numbers as they stand (the first look at a folder fixes its validity).
    FolderNumbers NumbersOf(const ItemLocation& folder);
    // Each item of a folder can be claimed as new by one reader only, the first to look: the
    // numbers from the first unclaimed one up to `upTo` (not including) become the caller's, and
    // the first of them is returned (`upTo` when none were left). Writes only when it claims.
    // Items stored before claims were kept count as claimed.
    std::int64_t ClaimNew(const ItemLocation& folder, std::int64_t upTo);
    // The first number no reader has claimed yet (1 for a folder that never held an item).
    std::int64_t FirstUnclaimed(const ItemLocation& folder);
    // The key of the item with that number in the folder, if it is still there.
    std::optional<std::string> KeyOfNumber(const std::string& folderKey, std::int64_t number);
    // The named properties (no names: all) of the folder's items with these numbers, all in one
    // read: for each number asked, in the order asked, the item's properties, or nothing when it
    // has gone.
    // The caller bounds how much that is (a mail client's fetch asks in batches).
    std::vector<std::optional<PropertyMap>>
    PropertiesOfNumbers(const std::string& folderKey, const std::vector<std::int64_t>& numbers,
                        const std::set<std::string>& names);
    // The same read for text properties alone, without a map per item: for each number asked, the
    // values of `names` in that order (empty where an item has none or it is not text), or
    // nothing when the item has gone. A mail client's fetch of whole messages reads this way.
    std::vector<std::optional<std::vector<std::string>>>
    TextsOfNumbers(const std::string& folderKey, const std::vector<std::int64_t>& numbers,
                   const std::vector<std::string>& names);
    // Up to `count` octets of a text property of the item with that number, from `offset` on
    // (fewer at the value's end, none past it), without the rest of the value leaving the
    // database; empty when the item has no such text, nothing when the item has gone.
    std::optional<std::string> TextRange(const std::string& folderKey, std::int64_t number,
                                         const std::string& name, std::uint64_t offset,
                                         std::uint64_t count);
    // Paths of the folders below a mailbox root ("Inbox", "Inbox/Lists"), parents first.
    std::vector<std::string> FolderPaths(const ItemLocation& mailbox);

    // --- Transactions (one at a time per Store object) ---

    void BeginTransaction();
    void CommitTransaction();
    void RollbackTransaction();
    bool InTransaction() const { return inTransaction_; }
    // Inside the open transaction: runs `work` so that a failure undoes its writes alone and the
    // transaction goes on, then rethrows it. When the database ended the whole transaction itself
    // (a full disk can), InTransaction() is false afterwards.
    void RunUndoable(const std::function<void()>& work);
    // Runs `reads` in one read transaction (or inside the open transaction): they see one state
    // of the database, and other threads wait for this store until they are done. SQLite drops
    // a connection's page cache at the start of a read whenever another connection has written
    // since, so lookups made one statement at a time on a busy store each read their pages
    // again. Writing through this store inside `reads` fails (E_UNEXPECTED).
    void ReadTogether(const std::function<void()>& reads);

private:
    friend class PreparedSave;

    // A stored property value of the item, decoded; a damaged one fails with STORE_E_DATABASE
    // naming the database file, the item and the property.
    Variant DecodeStored(std::int64_t kind, std::string bytes, const std::string& itemKey,
                         const std::string& name) const;
    // Where a new item stands in its folder's numbering (all 0 for a folder).
    struct ItemNumber {
        std::int64_t number = 0;
        std::int64_t changed = 0;
    };
    ItemNumber InsertItem(const std::string& key, const std::string& parentKey,
                          const std::string& domain, const std::string& mailbox,
                          const std::string& path, bool isFolder, const PropertyMap& properties,
                          std::optional<std::int64_t> received = std::nullopt);
    // Writes the save; sets its number when it makes a new non-folder item.
    void Write(PendingSave& save);
    // Gives a new item the next number of its folder (inside the write that makes it), with its
    // received time (now when unset), counting a change of the folder.
    ItemNumber NumberItem(std::int64_t itemId, const std::string& folderKey,
                          std::optional<std::int64_t> received = std::nullopt);
    FolderNumbers StoredNumbers(const std::string& folderKey);
    // The folder's items changed after `since` (-1: all of them), with the properties asked for.
    std::vector<NumberedItem> ReadNumberedItems(const std::string& folderKey, std::int64_t since,
                                                const std::set<std::string>& names,
                                                const std::set<std::string>& sizesOnly);
    void NumberUnnumbered(const std::string& folderKey);
    // Makes NumberUnnumbered look again at the folder and those below it.
    void ForgetNumberedBelow(const std::string& folderKey);
    // Counts a change to an item of the folder (see FolderNumbers::changes), and notes the
    // folder for the notice that goes out once the write commits; the count now, nothing for a
    // folder that never held an item.
    std::optional<std::int64_t> NoteChange(const std::string& folderKey, std::int64_t count = 1);
    // The stored item at `location`, as its delete events see it.
    PendingSave DeletedItem(const ItemLocation& location, Item item);
    // For a caller that holds the store's lock already: runs `work` in a write transaction of
    // its own, or, inside the open transaction, as part of it (no savepoint: a failure is the
    // caller's to undo).
    void WritingHere(const std::function<void()>& work);
    // Tells watchers (FolderChanges.h) of the folders the committed write changed.
    void SignalChanges();
    // Fails while ReadTogether runs: its read transaction cannot take writes.
    void RefuseWriteWhileReading() const;
    void WriteProperties(std::int64_t itemId, const PropertyMap& properties,
                         const std::set<std::string>& names);
    std::vector<Item> LoadItems(const char* sql, const std::string& key, const ItemLocation* like);
    void ResolveLinks(Item& item, const std::string& path, const ItemLocation& like);
    std::string NewGuid();

    // Takes the store's lock and runs `work` in a write transaction of its own, or, inside the
    // open transaction, in a savepoint, so that a failure undoes only its own writes.
    template <class Work> void Writing(Work&& work);
    // A savepoint's statements, as literals so that each is prepared once.
    struct Savepoint {
        const char* begin;
        const char* release;
        const char* rollBack;
    };
    static const Savepoint kSaveSavepoint, kUndoableSavepoint;
    // Runs `work` in a savepoint of the open transaction, rolled back to on failure.
    template <class Work> void InSavepoint(const Savepoint& savepoint, Work&& work);
    // Rolls back what is still open, keeping quiet about a rollback that fails.
    void RollBackQuietly(const char* sql);

    std::filesystem::path directory_;
    ServerNames server_;
    std::unique_ptr<Database> db_;
    std::recursive_mutex mutex_;
    bool inTransaction_ = false;
    bool readingTogether_ = false;
    // Folders changed by the write under way (keys), told of once it commits.
    std::set<std::string> changedFolders_;
};

} // namespace platform::store
