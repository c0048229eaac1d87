#pragma once

// The IMAP backend of the session's and the server's tests: user "alice" (also
// "alice@example.com"), password "secret", with an Inbox of three messages, a subfolder and a
// second folder, or an Inbox of many messages of one size. Saves and removals change the
// folders and their mod-sequences, as the store would; the messages there from the start are
// no longer \Recent, those added later are until a session takes them. Switched to failing, every
// call throws a platform failure whose text names a store path, which no client may ever see.
// Logins can be held at a gate, as on a hung directory.

#include "server/imap/ImapBackend.h"
#include "server/imap/ImapSession.h"
#include "server/imap/ImapWire.h"

#include "platform/core/Error.h"
#include "platform/core/Text.h"

#include "RunningServer.h"

#include <atomic>
#include <map>

namespace imaptest {

using namespace server::imap;

inline constexpr const char* kPassword = "secret";
inline constexpr const char* kSecretDetail = "disk I/O error in /srv/exhost/store.db";

// What the backends of one test share.
struct Shared {
    std::atomic<bool> failing = false;
    std::atomic<int> logins = 0;                       // passwords checked
    std::atomic<int> messagesRead = 0;                 // whole, alone or in batches
    std::atomic<int> batchesRead = 0;                  // calls of Messages
    std::atomic<std::uint64_t> octetsReadInRanges = 0; // by MessageRange
    std::atomic<int> opens = 0;    // folders opened (SELECT, NOOP, an idling session's look)
    std::atomic<int> arrivals = 0; // messages every session's Inbox has gained since it began
    servertest::Gate loginGate;

    void OpenGates() { loginGate.Set(true); }
};

class TestBackend : public Backend {
public:
    TestBackend() : TestBackend(own_) {}
    explicit TestBackend(Shared& shared) : shared(shared) {
        auto& inbox = folders["Inbox"] = {77, 10, {}};
        Add(inbox, 3, kSeen, {"alice@example.com"},
            "From: Bob <bob@example.org>\r\nTo: alice@example.com\r\nSubject: Hello\r\n"
            "Date: Mon, 7 Dec 2026 10:00:00 +0000\r\n",
            "Hi Alice\r\n");
        Add(inbox, 5, 0, {"sales@example.com", "Work list"},
            "From: carol@example.net\r\nTo: sales@example.com\r\nSubject: Order\r\n",
            "Please send 5 boxes\r\n");
        Add(inbox, 9, kFlagged | kDeleted, {}, "Subject: Old\r\n", "gone soon\r\n");
        folders["Inbox/Lists"] = {78, 1, {}};
        folders["Sent Items"] = {79, 1, {}};
        recentFrom["Inbox"] = 10;
    }
    // Only an Inbox of `count` messages, each a one-line header and a body of `bodySize` octets.
    TestBackend(Shared& shared, int count, std::size_t bodySize) : shared(shared) {
        auto& inbox = folders["Inbox"] = {7, static_cast<std::uint32_t>(count + 1), {}};
        for (std::uint32_t uid = 1; uid <= static_cast<std::uint32_t>(count); ++uid)
            Add(inbox, uid, 0, {}, "Subject: m" + std::to_string(uid) + "\r\n",
                std::string(bodySize, 'x'));
        recentFrom["Inbox"] = inbox.uidNext;
    }

    void Add(FolderSnapshot& folder, std::uint32_t uid, unsigned flags,
             std::vector<std::string> keywords, const std::string& header,
             const std::string& body) {
        MessageSummary summary;
        summary.uid = uid;
        summary.flags = flags;
        summary.keywords = std::move(keywords);
        summary.internalDate = 1796637600 + uid; // 7-Dec-2026 10:00:00 UTC
        summary.header = std::make_shared<const std::string>(header + "\r\n");
        summary.size = summary.header->size() + body.size();
        summary.modseq = ++folder.highestModseq;
        folder.messages.push_back(summary);
        texts[uid] = *summary.header + body;
    }

    LoginAnswer Login(const std::string& name, const std::string& password) override {
        FailIfAsked();
        ++shared.logins;
        shared.loginGate.Pass();
        if (name != "alice" && name != "alice@example.com")
            return {};
        return {password == kPassword ? LoginOutcome::Accepted : LoginOutcome::Refused, "alice"};
    }
    std::vector<FolderEntry> Folders() override {
        FailIfAsked();
        std::vector<FolderEntry> names;
        for (const auto& [name, folder] : folders)
            names.push_back({name, name == "Sent Items" ? "\\Sent" : ""});
        return names;
    }
    // In any letter case, as the store finds folders.
    std::optional<std::string> FolderPath(const std::string& path) override {
        FailIfAsked();
        for (const auto& [name, folder] : folders)
            if (platform::text::EqualsIgnoreCase(name, path))
                return name;
        return std::nullopt;
    }
    FolderOutcome CreateFolder(const std::string& path) override {
        FailIfAsked();
        if (folders.count(path))
            return FolderOutcome::AlreadyExists;
        for (auto slash = path.find('/'); slash != std::string::npos;
             slash = path.find('/', slash + 1))
            folders.try_emplace(path.substr(0, slash), FolderSnapshot{nextValidity++, 1, {}});
        folders[path] = {nextValidity++, 1, {}};
        return FolderOutcome::Done;
    }
    FolderOutcome DeleteFolder(const std::string& path) override {
        FailIfAsked();
        if (!folders.count(path))
            return FolderOutcome::NoSuchFolder;
        if (HasBelow(path))
            return FolderOutcome::HasSubfolders;
        folders.erase(path);
        return FolderOutcome::Done;
    }
    FolderOutcome RenameFolder(const std::string& from, const std::string& to) override {
        FailIfAsked();
        if (!folders.count(from))
            return FolderOutcome::NoSuchFolder;
        if (folders.count(to))
            return FolderOutcome::AlreadyExists;
        if (from == "Inbox") {
            CreateFolder(to);
            std::vector<std::uint32_t> uids;
            for (const auto& message : folders[from].messages)
                uids.push_back(message.uid);
            Copy(from, uids, to);
            folders[from].messages.clear();
            return FolderOutcome::Done;
        }
        for (auto slash = to.find('/'); slash != std::string::npos; slash = to.find('/', slash + 1))
            folders.try_emplace(to.substr(0, slash), FolderSnapshot{nextValidity++, 1, {}});
        std::map<std::string, FolderSnapshot> renamed;
        for (auto& [path, folder] : folders)
            renamed[path == from || path.starts_with(from + "/") ? to + path.substr(from.size())
                                                                 : path] = std::move(folder);
        folders = std::move(renamed);
        return FolderOutcome::Done;
    }
    std::vector<std::string> Subscriptions() override {
        FailIfAsked();
        return subscriptions;
    }
    void SetSubscribed(const std::string& name, bool subscribed) override {
        FailIfAsked();
        std::erase(subscriptions, name);
        if (subscribed)
            subscriptions.push_back(name);
    }
    std::shared_ptr<const FolderSnapshot> Open(const std::string& folder) override {
        FailIfAsked();
        ++shared.opens;
        auto found = folders.find(folder);
        if (found == folders.end())
            return nullptr;
        auto snapshot = std::make_shared<FolderSnapshot>(found->second);
        if (folder == "Inbox")
            for (int i = 0; i < shared.arrivals; ++i) {
                auto arrived = MessageSummary{};
                arrived.uid = 1000 + static_cast<std::uint32_t>(i);
                arrived.header = std::make_shared<const std::string>("Subject: arrived\r\n\r\n");
                arrived.size = arrived.header->size();
                snapshot->messages.push_back(arrived);
                snapshot->uidNext = arrived.uid + 1;
            }
        return snapshot;
    }
    std::string ChangeToken(const std::string& folder) override { return "token:" + folder; }
    std::optional<std::string> Message(const std::string&, std::uint32_t uid) override {
        FailIfAsked();
        ++shared.messagesRead;
        auto found = texts.find(uid);
        return found == texts.end() ? std::nullopt : std::optional(found->second);
    }
    std::vector<std::optional<std::string>>
    Messages(const std::string& folder, const std::vector<std::uint32_t>& uids) override {
        FailIfAsked();
        ++shared.batchesRead;
        std::vector<std::optional<std::string>> messages;
        for (const auto uid : uids)
            messages.push_back(Message(folder, uid));
        return messages;
    }
    std::optional<std::string> MessageRange(const std::string&, std::uint32_t uid,
                                            std::uint64_t offset, std::uint64_t count) override {
        FailIfAsked();
        auto found = texts.find(uid);
        if (found == texts.end())
            return std::nullopt;
        auto range =
            offset < found->second.size() ? found->second.substr(offset, count) : std::string();
        shared.octetsReadInRanges += range.size();
        return range;
    }
    FlagSave SaveFlags(const std::string& folder, std::uint32_t uid, unsigned flags,
                       const std::vector<std::string>& keywords,
                       std::optional<std::uint64_t> unchangedSince) override {
        FailIfAsked();
        auto& snapshot = folders[folder];
        for (auto& summary : snapshot.messages)
            if (summary.uid == uid) {
                if (unchangedSince && summary.modseq > *unchangedSince)
                    return {FlagSave::Outcome::Modified, 0};
                saves.push_back(uid);
                summary.flags = flags;
                summary.keywords = keywords;
                summary.modseq = ++snapshot.highestModseq;
                return {FlagSave::Outcome::Saved, summary.modseq};
            }
        saves.push_back(uid);
        return {};
    }
    std::uint32_t RecentFrom(const std::string& folder, std::uint32_t uidNext, bool take) override {
        FailIfAsked();
        auto& from = recentFrom.try_emplace(folder, 1).first->second;
        const auto first = std::min(from, uidNext);
        if (take)
            from = std::max(from, uidNext);
        return first;
    }
    void Remove(const std::string& folder, const std::vector<std::uint32_t>& uids) override {
        FailIfAsked();
        for (auto uid : uids)
            std::erase_if(folders[folder].messages,
                          [&](const auto& summary) { return summary.uid == uid; });
        ++folders[folder].highestModseq;
    }

    std::optional<SavedMessages> Append(const std::string& folder,
                                        const std::vector<NewMessage>& messages) override {
        FailIfAsked();
        auto found = folders.find(folder);
        if (found == folders.end())
            return std::nullopt;
        SavedMessages saved{found->second.uidValidity, {}, {}};
        for (const auto& message : messages) {
            const auto split = message.bytes.find("\r\n\r\n");
            const auto uid = found->second.uidNext++;
            Add(found->second, uid, message.flags, message.keywords,
                std::string(message.bytes.substr(0, split == std::string::npos ? 0 : split + 2)),
                std::string(message.bytes.substr(split == std::string::npos ? 0 : split + 4)));
            found->second.messages.back().internalDate = message.internalDate.value_or(0);
            saved.uids.push_back(uid);
        }
        return saved;
    }
    std::optional<SavedMessages> Copy(const std::string& from,
                                      const std::vector<std::uint32_t>& uids,
                                      const std::string& to) override {
        FailIfAsked();
        auto target = folders.find(to);
        if (target == folders.end())
            return std::nullopt;
        SavedMessages saved{target->second.uidValidity, {}, {}};
        const auto source = folders[from].messages;
        for (const auto uid : uids)
            for (const auto& message : source)
                if (message.uid == uid) {
                    auto copy = message;
                    copy.uid = target->second.uidNext++;
                    copy.modseq = ++target->second.highestModseq;
                    texts[copy.uid] = texts[uid];
                    target->second.messages.push_back(copy);
                    saved.sources.push_back(uid);
                    saved.uids.push_back(copy.uid);
                }
        return saved;
    }

    Shared& shared;
    std::vector<std::string> subscriptions = {"INBOX"};
    std::uint32_t nextValidity = 100;
    std::map<std::string, FolderSnapshot> folders;
    std::map<std::uint32_t, std::string> texts;
    std::vector<std::uint32_t> saves;
    std::map<std::string, std::uint32_t> recentFrom; // the first UID no session has taken

private:
    bool HasBelow(const std::string& path) const {
        return std::any_of(folders.begin(), folders.end(),
                           [&](const auto& entry) { return entry.first.starts_with(path + "/"); });
    }
    void FailIfAsked() {
        if (shared.failing)
            throw platform::Error(platform::hr::E_FAIL, kSecretDetail);
    }

    Shared own_;
};

enum Start { Fresh, LoggedIn, Selected }; // Selected: INBOX, read-write

// Takes `session` as far as `start`; whether the login and the SELECT it needed succeeded.
inline bool Begin(Session& session, Start start) {
    return (start == Fresh || session.Receive("l LOGIN alice secret\r\n").loggedIn) &&
           (start != Selected || session.Receive("s SELECT INBOX\r\n")
                                     .bytes.ends_with("s OK [READ-WRITE] SELECT completed\r\n"));
}

} // namespace imaptest
