// The selected folder kept in step with the store, and the names and numbers clients use for
// folders and messages.

#include "server/imap/ImapSessionContext.h"

#include "server/imap/ImapCommand.h"
#include "server/imap/ImapSequenceSet.h"
#include "server/imap/ImapWire.h"

#include "platform/core/Text.h"

#include <algorithm>
#include <map>

namespace server::imap {

std::string SessionContext::Capabilities() const {
    std::string capabilities = "IMAP4rev1 LITERAL+ SASL-IR";
    // RFC 3501: with LOGINDISABLED no mechanism that sends a password in clear is offered.
    capabilities += LoginAllowed() ? " AUTH=PLAIN" : " LOGINDISABLED";
    if (settings.tlsOffered && !encrypted && state == SessionState::NotAuthenticated)
        capabilities += " STARTTLS";
    return capabilities + " IDLE UIDPLUS MOVE MULTIAPPEND LIST-EXTENDED SPECIAL-USE UNSELECT "
                          "NAMESPACE ID ENABLE CONDSTORE QRESYNC";
}

std::string MailboxName(const std::string& folderPath) {
    const auto slash = folderPath.find(kDelimiter);
    const auto first = folderPath.substr(0, slash);
    if (platform::text::EqualsIgnoreCase(first, "Inbox"))
        return kInbox + (slash == std::string::npos ? std::string()
                                                    : MailboxNameOf(folderPath.substr(slash)));
    return MailboxNameOf(folderPath);
}

namespace {

// The name with "INBOX" in any letter case as its first step spelled "INBOX".
std::string WithInboxSpelled(const std::string& name) {
    const bool inboxPart =
        AsciiUpper(name.substr(0, 5)) == kInbox && (name.size() == 5 || name[5] == kDelimiter);
    return inboxPart ? kInbox + name.substr(5) : name;
}

} // namespace

std::optional<std::string> SessionContext::FolderOf(const std::string& name) {
    // Looked up by its path, then held to the name as the folder spells it: names other than
    // INBOX are told apart by letter case, the store's paths are not.
    const auto path = PathOfMailboxName(name);
    if (!path)
        return std::nullopt;
    auto folder = backend.FolderPath(*path);
    if (!folder || MailboxName(*folder) != WithInboxSpelled(name))
        return std::nullopt;
    return folder;
}

std::optional<std::string> PathOfMailboxName(const std::string& name) {
    auto spelled = WithInboxSpelled(name);
    // A trailing delimiter names the folder itself (RFC 3501's CREATE "a/").
    if (spelled.size() > 1 && spelled.back() == kDelimiter)
        spelled.pop_back();
    auto path = Utf8OfMailboxName(spelled);
    if (!path || path->empty() || path->front() == kDelimiter ||
        path->find("//") != std::string::npos)
        return std::nullopt;
    if (path->starts_with(kInbox) && (path->size() == 5 || (*path)[5] == kDelimiter))
        path->replace(0, 5, "Inbox");
    return path;
}

std::string CanonicalMailboxName(const std::string& name) {
    return WithInboxSpelled(name);
}

bool SessionContext::Resolve(const std::string& text, bool byUid,
                             std::vector<std::size_t>& indexes) const {
    const auto set = SequenceSet::Parse(text);
    if (!set)
        return false;
    const auto largest = byUid ? (messages.empty() ? 0 : messages.back().summary.uid)
                               : static_cast<std::uint32_t>(messages.size());
    for (std::size_t i = 0; i < messages.size(); ++i) {
        const auto number = byUid ? messages[i].summary.uid : static_cast<std::uint32_t>(i + 1);
        if (set->Contains(number, largest))
            indexes.push_back(i);
    }
    return true;
}

std::string SessionContext::Expunge(const std::vector<std::size_t>& ascending, bool report) {
    std::string out;
    if (report && qresync && !ascending.empty()) {
        std::vector<std::uint32_t> uids;
        uids.reserve(ascending.size());
        for (const auto i : ascending)
            uids.push_back(messages[i].summary.uid);
        out = "* VANISHED " + FormatNumberSet(uids) + "\r\n";
    } else if (report) {
        for (auto i = ascending.rbegin(); i != ascending.rend(); ++i)
            out += "* " + std::to_string(*i + 1) + " EXPUNGE\r\n";
    }
    std::size_t kept = 0;
    auto next = ascending.begin();
    for (std::size_t i = 0; i < messages.size(); ++i) {
        if (next != ascending.end() && *next == i) {
            ++next;
            continue;
        }
        if (kept != i)
            messages[kept] = std::move(messages[i]);
        ++kept;
    }
    messages.erase(messages.begin() + static_cast<std::ptrdiff_t>(kept), messages.end());
    return out;
}

std::string SessionContext::VanishedEarlier(const SequenceSet& uids, std::uint32_t above) const {
    if (uidNext <= 1)
        return {};
    // Clipped to the UIDs given out so far: "1:4294967295" costs what "1:99" does.
    NumberRanges asked;
    for (const auto& [low, high] :
         uids.Ranges(messages.empty() ? 0 : messages.back().summary.uid)) {
        const auto first = std::max<std::uint64_t>(low, std::uint64_t{above} + 1);
        const auto last = std::min(high, uidNext - 1);
        if (first <= last)
            asked.emplace_back(static_cast<std::uint32_t>(first), last);
    }
    // Both ascending: one walk through the messages cuts the ranges where they are.
    NumberRanges gone;
    auto message = messages.begin();
    for (const auto& [low, high] : Ascending(std::move(asked))) {
        while (message != messages.end() && message->summary.uid < low)
            ++message;
        auto from = low;
        for (; message != messages.end() && message->summary.uid <= high; ++message) {
            if (message->summary.uid > from)
                gone.emplace_back(from, message->summary.uid - 1);
            from = message->summary.uid + 1; // high < UIDNEXT: no overflow
        }
        if (from <= high)
            gone.emplace_back(from, high);
    }
    return gone.empty() ? std::string() : "* VANISHED (EARLIER) " + FormatNumberSet(gone) + "\r\n";
}

std::string SessionContext::FetchFlags(std::size_t index, bool withUid, bool withFlags) const {
    const auto& summary = messages[index].summary;
    std::string items;
    const auto add = [&](const std::string& item) { items += (items.empty() ? "" : " ") + item; };
    if (withUid || condstore)
        add("UID " + std::to_string(summary.uid));
    if (withFlags)
        add("FLAGS " + FlagList(summary.flags, summary.keywords));
    if (condstore)
        add("MODSEQ (" + std::to_string(summary.modseq) + ")");
    return "* " + std::to_string(index + 1) + " FETCH (" + items + ")\r\n";
}

std::uint32_t SessionContext::TakeRecent(std::uint32_t next) {
    return backend.RecentFrom(folder, next, !readOnly);
}

void SessionContext::Deselect() {
    state = SessionState::Authenticated;
    messages.clear();
    folder.clear();
}

std::string SessionContext::Synchronize() {
    if (state != SessionState::Selected)
        return {};
    const auto snapshot = backend.Open(folder);
    if (!snapshot)
        return {};
    std::string out;
    std::map<std::uint32_t, const MessageSummary*> current;
    for (const auto& summary : snapshot->messages)
        current[summary.uid] = &summary;
    std::vector<std::size_t> gone;
    for (std::size_t i = 0; i < messages.size(); ++i)
        if (!current.count(messages[i].summary.uid))
            gone.push_back(i);
    out += Expunge(gone);
    for (std::size_t i = 0; i < messages.size(); ++i) {
        const auto& now = *current[messages[i].summary.uid];
        const bool flagsChanged =
            now.flags != messages[i].summary.flags || now.keywords != messages[i].summary.keywords;
        // A save that left the flags as they were still moves the mod-sequence on.
        const bool modseqChanged = now.modseq != messages[i].summary.modseq;
        if (flagsChanged || modseqChanged)
            messages[i].summary = now;
        if (flagsChanged || (condstore && modseqChanged))
            out += FetchFlags(i, false);
    }
    const auto known = messages.empty() ? 0u : messages.back().summary.uid;
    std::size_t added = 0;
    std::optional<std::uint32_t> recentFrom;
    for (const auto& summary : snapshot->messages)
        if (summary.uid > known) {
            if (!recentFrom)
                recentFrom = TakeRecent(snapshot->uidNext);
            messages.push_back({summary, summary.uid >= *recentFrom});
            ++added;
        }
    if (added > 0) {
        out += "* " + std::to_string(messages.size()) + " EXISTS\r\n";
        const auto recent =
            std::count_if(messages.begin(), messages.end(), [](const auto& m) { return m.recent; });
        out += "* " + std::to_string(recent) + " RECENT\r\n";
    }
    uidNext = snapshot->uidNext;
    return out;
}

} // namespace server::imap
