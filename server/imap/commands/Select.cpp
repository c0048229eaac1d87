// SELECT and EXAMINE open a folder (EXAMINE read-only) and report its flags, keywords, counts and
// UIDs, with QRESYNC also what changed since the client's last visit; CLOSE and UNSELECT leave
// it, CLOSE removing its \Deleted messages first.

#include "server/imap/commands/Commands.h"

#include "server/imap/ImapFetch.h"
#include "server/imap/ImapSequenceSet.h"
#include "server/imap/ImapWire.h"

#include "platform/core/Text.h"

#include <memory>

namespace server::imap {

namespace {

// What RFC 7162's "QRESYNC (uidvalidity modseq [known-uids [(numbers uids)]])" says the client
// knows of the folder.
struct Resync {
    std::uint32_t uidValidity = 0;
    std::uint64_t modseq = 0;
    std::optional<SequenceSet> knownUids;
    // A sample of message numbers and the UIDs they had: where they still match, nothing has
    // gone since.
    std::optional<SequenceSet> knownNumbers, theirUids;
};

// A set of the parameter: a sequence set without "*".
std::optional<SequenceSet> KnownSet(const Argument& argument) {
    auto set = argument.IsAtom() ? SequenceSet::Parse(argument.text) : std::nullopt;
    if (set && set->HasStar())
        return std::nullopt;
    return set;
}

// How many numbers the set holds; nothing unless its ranges ascend.
std::optional<std::uint64_t> AscendingCount(const SequenceSet& set) {
    std::uint64_t count = 0;
    std::uint32_t previous = 0;
    for (const auto& [low, high] : set.Ranges(0)) {
        if (low <= previous)
            return std::nullopt;
        count += std::uint64_t{high} - low + 1;
        previous = high;
    }
    return count;
}

// Reads the parameter's list; false when it is not one.
bool ParseResync(const Argument& list, Resync& resync) {
    const auto& items = list.items;
    if (!list.IsList() || items.size() < 2 || items.size() > 4 || !items[0].IsAtom() ||
        !IsNumber(items[0].text, 10))
        return false;
    const auto validity = std::stoull(items[0].text);
    const auto modseq = ParseModseq(items[1]);
    if (validity == 0 || validity > 0xffffffffu || !modseq)
        return false;
    resync.uidValidity = static_cast<std::uint32_t>(validity);
    resync.modseq = *modseq;
    std::size_t next = 2;
    if (next < items.size() && items[next].IsAtom()) {
        resync.knownUids = KnownSet(items[next++]);
        if (!resync.knownUids)
            return false;
    }
    if (next < items.size()) {
        const auto& match = items[next++];
        if (!match.IsList() || match.items.size() != 2)
            return false;
        resync.knownNumbers = KnownSet(match.items[0]);
        resync.theirUids = KnownSet(match.items[1]);
        if (!resync.knownNumbers || !resync.theirUids)
            return false;
        const auto numbers = AscendingCount(*resync.knownNumbers);
        if (!numbers || numbers != AscendingCount(*resync.theirUids))
            return false;
    }
    return next == items.size();
}

// The highest UID of the client's sample that the folder still has at the message number the
// client gave, every pair before it matching too: nothing at or below it has gone since. The
// pairs ascend, so the walk ends within the folder's messages.
std::uint32_t MatchedUpTo(const std::vector<SelectedMessage>& messages, const Resync& resync) {
    if (!resync.knownNumbers)
        return 0;
    const auto numbers = resync.knownNumbers->Ranges(0);
    const auto uids = resync.theirUids->Ranges(0);
    std::uint32_t matched = 0;
    std::size_t n = 0, u = 0;
    std::uint64_t number = numbers[0].first, uid = uids[0].first;
    while (n < numbers.size() && u < uids.size()) {
        if (number > messages.size() || messages[number - 1].summary.uid != uid)
            break;
        matched = static_cast<std::uint32_t>(uid);
        if (++number > numbers[n].second && ++n < numbers.size())
            number = numbers[n].first;
        if (++uid > uids[u].second && ++u < uids.size())
            uid = uids[u].first;
    }
    return matched;
}

// The messages changed since the client's mod-sequence, of its known UIDs when it gave them.
std::vector<std::size_t> ChangedSince(const std::vector<SelectedMessage>& messages,
                                      const Resync& resync) {
    const auto known = resync.knownUids ? Ascending(resync.knownUids->Ranges(0)) : NumberRanges();
    auto range = known.begin();
    std::vector<std::size_t> changed;
    for (std::size_t i = 0; i < messages.size(); ++i) {
        const auto& summary = messages[i].summary;
        while (range != known.end() && range->second < summary.uid)
            ++range;
        const bool asked =
            !resync.knownUids || (range != known.end() && range->first <= summary.uid);
        if (asked && summary.modseq > resync.modseq)
            changed.push_back(i);
    }
    return changed;
}

// The FETCHes of a QRESYNC SELECT, a part at a time (a client back after long may learn of
// every message of a large folder), then its tagged answer.
struct ResyncRun {
    std::string done;
    std::vector<std::size_t> changed;
    std::size_t answered = 0;
};

Output NextResyncPart(SessionContext& session, const std::string& tag,
                      const std::shared_ptr<ResyncRun>& run) {
    Output output;
    while (run->answered < run->changed.size() && output.bytes.size() < session.settings.outputPart)
        output.bytes += session.FetchFlags(run->changed[run->answered++], true);
    if (run->answered < run->changed.size())
        session.unfinished = {tag, "SELECT",
                              [&session, tag, run] { return NextResyncPart(session, tag, run); }};
    else
        output.bytes += run->done;
    return output;
}

// FLAGS and PERMANENTFLAGS name at most this many keywords. The others still show in FETCH,
// and every keyword can be searched for and set (PERMANENTFLAGS holds \*); a folder whose
// messages hold a million keywords would otherwise answer each SELECT with two lines of
// megabytes that no client makes use of.
constexpr std::size_t kListedKeywords = 1000;

// " kw1 kw2 ...": the folder's first kListedKeywords keywords once each, as atoms.
std::string KeywordsInUse(const std::vector<SelectedMessage>& messages) {
    platform::text::CaseInsensitiveSet seen;
    seen.Reserve(kListedKeywords);
    std::size_t listed = 0;
    std::string out;
    for (const auto& message : messages)
        for (const auto& keyword : message.summary.keywords) {
            if (listed == kListedKeywords)
                return out;
            if (seen.Insert(keyword)) {
                out.append(" ").append(KeywordAtom(keyword));
                ++listed;
            }
        }
    return out;
}

} // namespace

Output Select(SessionContext& session, const Command& command) {
    const auto& args = command.arguments;
    if (args.empty() || args.size() > 2 || !args[0].IsAString())
        return Answer(Tagged(command.tag, "BAD", command.name + " needs a folder name"));
    // RFC 7162's CONDSTORE and QRESYNC, each at most once, all read before anything is done.
    std::optional<Resync> resync;
    if (args.size() == 2) {
        const auto& items = args[1].items;
        const auto refused = Answer(Tagged(command.tag, "BAD",
                                           command.name + " takes only (CONDSTORE) or (QRESYNC "
                                                          "(uidvalidity modseq [known-uids "
                                                          "[(numbers uids)]]))"));
        if (!args[1].IsList() || items.empty())
            return refused;
        bool condstore = false;
        for (std::size_t i = 0; i < items.size(); ++i) {
            const auto name = items[i].IsAtom() ? AsciiUpper(items[i].text) : std::string();
            if (name == "CONDSTORE" && !condstore) {
                condstore = true;
            } else if (name == "QRESYNC" && !resync && i + 1 < items.size()) {
                if (!session.qresync)
                    return Answer(Tagged(command.tag, "BAD", "QRESYNC needs ENABLE QRESYNC first"));
                if (!ParseResync(items[++i], resync.emplace()))
                    return refused;
            } else {
                return refused;
            }
        }
        session.condstore = true;
    }
    const bool readOnly = command.name == "EXAMINE";
    // RFC 7162: what comes before this line was of the folder left.
    const std::string closed = session.state == SessionState::Selected && session.qresync
                                   ? "* OK [CLOSED] Previous folder closed\r\n"
                                   : "";
    // A failed SELECT leaves no folder selected.
    session.Deselect();
    const auto folder = session.FolderOf(args[0].text);
    const auto snapshot = folder ? session.backend.Open(*folder) : nullptr;
    if (!snapshot)
        return Answer(closed + Tagged(command.tag, "NO", "[NONEXISTENT] No such folder"));
    session.folder = *folder;
    session.readOnly = readOnly;
    session.uidValidity = snapshot->uidValidity;
    session.uidNext = snapshot->uidNext;
    // Made at its size at once: grown step by step, a large folder's list would be mapped and
    // copied anew at each step (the server maps large blocks).
    session.messages.reserve(snapshot->messages.size());
    // Asked for only when there is something that can be new (a take writes).
    const auto recentFrom = snapshot->messages.empty() ? 0 : session.TakeRecent(session.uidNext);
    std::size_t recent = 0;
    for (const auto& summary : snapshot->messages) {
        session.messages.push_back({summary, summary.uid >= recentFrom});
        recent += session.messages.back().recent;
    }
    session.state = SessionState::Selected;
    Output output;
    std::string& out = output.bytes;
    const auto keywords = KeywordsInUse(session.messages);
    out.reserve(2 * keywords.size() + 512);
    out.append(closed)
        .append("* FLAGS (\\Answered \\Flagged \\Deleted \\Seen \\Draft")
        .append(keywords);
    out.append(")\r\n* OK [PERMANENTFLAGS (\\Answered \\Flagged \\Deleted \\Seen \\Draft");
    out.append(keywords).append(" \\*)] Flags and keywords are kept\r\n");
    out += "* " + std::to_string(session.messages.size()) + " EXISTS\r\n* " +
           std::to_string(recent) + " RECENT\r\n";
    for (std::size_t i = 0; i < session.messages.size(); ++i)
        if (!(session.messages[i].summary.flags & kSeen)) {
            out += "* OK [UNSEEN " + std::to_string(i + 1) + "] First unseen\r\n";
            break;
        }
    out += "* OK [UIDVALIDITY " + std::to_string(session.uidValidity) + "] UIDs valid\r\n";
    out += "* OK [UIDNEXT " + std::to_string(session.uidNext) + "] Predicted next UID\r\n";
    out += "* OK [HIGHESTMODSEQ " + std::to_string(snapshot->highestModseq) +
           "] Highest mod-sequence\r\n";
    auto done = Tagged(command.tag, "OK",
                       std::string(readOnly ? "[READ-ONLY] " : "[READ-WRITE] ") + command.name +
                           " completed");
    // Another UIDVALIDITY: what the client knows is of other messages, and it is told nothing
    // more than a CONDSTORE client would be.
    if (!resync || resync->uidValidity != session.uidValidity) {
        out += done;
        return output;
    }
    // Without known UIDs the client may know any UID given out so far (clipped to UIDNEXT).
    static const auto kEveryUid = *SequenceSet::Parse("1:4294967295");
    out += session.VanishedEarlier(resync->knownUids ? *resync->knownUids : kEveryUid,
                                   MatchedUpTo(session.messages, *resync));
    auto run = std::make_shared<ResyncRun>();
    run->done = std::move(done);
    run->changed = ChangedSince(session.messages, *resync);
    output.Append(NextResyncPart(session, command.tag, run));
    return output;
}

Output Close(SessionContext& session, const Command& command) {
    if (command.name == "CLOSE" && !session.readOnly)
        RemoveDeleted(session, command.tag, nullptr, true);
    session.Deselect();
    return Answer(Tagged(command.tag, "OK", command.name + " completed"));
}

} // namespace server::imap
