// FETCH: the data items asked for, message by message, in parts of about the session's output
// part; the texts they need read together in batches of bounded size, a large message's only as
// far as its items need. Reading a message's text marks it \Seen unless the folder is read-only
// or the item is a PEEK.

#include "server/imap/commands/Commands.h"

#include "server/imap/ImapFetch.h"
#include "server/imap/ImapSequenceSet.h"
#include "server/imap/ImapWire.h"

#include <algorithm>
#include <memory>

namespace server::imap {

namespace {

bool Asks(const std::vector<FetchItem>& items, FetchItem::Kind kind) {
    return std::any_of(items.begin(), items.end(),
                       [&](const auto& item) { return item.kind == kind; });
}

FetchItem ItemOf(FetchItem::Kind kind, const char* label) {
    FetchItem item;
    item.kind = kind;
    item.label = label;
    return item;
}

// Messages read ahead of their answers are read together, up to this many octets (or one
// message, if larger); a message larger than kWholeUpTo is read whole only when an item needs
// all of it, the others read the octets they need. The first batch is small, so that the client
// has its first answers while the larger ones are read.
constexpr std::uint64_t kFirstBatchOctets = 64 * 1024;
constexpr std::uint64_t kBatchOctets = 1 << 20;
constexpr std::size_t kBatchMessages = 2000;
constexpr std::uint64_t kWholeUpTo = 256 * 1024;

// A message's text as a batch left it: read whole, or to be read in ranges.
struct ReadAhead {
    bool read = false;
    std::optional<std::string> text; // nothing when it had gone
};

// A FETCH under way, answered a part at a time: the rest waits until the part has been sent.
struct FetchRun {
    std::string tag;
    bool byUid = false;
    bool marksSeen = false;
    bool needsMessage = false;
    bool needsWhole = false;
    std::vector<FetchItem> items;
    std::vector<std::size_t> indexes; // into the session's messages
    std::size_t answered = 0;         // of `indexes`
    bool gone = false;                // a message had been removed meanwhile
    // The messages of `indexes` from batchStart on, as the last batch read them.
    std::size_t batchStart = 0;
    std::vector<ReadAhead> batch;
    std::uint64_t batchOctets = kFirstBatchOctets; // doubles up to kBatchOctets
};

// Reads the texts of the next messages to answer, those to be read whole in one backend call.
void ReadBatch(SessionContext& session, FetchRun& run) {
    run.batch.clear();
    run.batchStart = run.answered;
    std::vector<std::uint32_t> uids;
    std::uint64_t octets = 0;
    for (auto i = run.answered; i < run.indexes.size() && run.batch.size() < kBatchMessages; ++i) {
        const auto& summary = session.messages[run.indexes[i]].summary;
        const bool whole = run.needsWhole || summary.size <= kWholeUpTo;
        if (whole && !uids.empty() && octets + summary.size > run.batchOctets)
            break;
        run.batch.push_back({whole, std::nullopt});
        if (whole) {
            uids.push_back(summary.uid);
            octets += summary.size;
        }
    }
    run.batchOctets = std::min(2 * run.batchOctets, kBatchOctets);
    if (uids.empty())
        return;
    auto texts = session.backend.Messages(session.folder, uids);
    auto text = texts.begin();
    for (auto& entry : run.batch)
        if (entry.read && text != texts.end())
            entry.text = std::move(*text++);
}

// One message's text for its answer: from the batch, or read from the backend as needed.
class FetchedText : public MessageText {
public:
    FetchedText(SessionContext& session, std::uint32_t uid, ReadAhead& ahead)
        : session_(session), uid_(uid), ahead_(ahead) {}
    const std::string* Whole() override {
        if (!ahead_.read) {
            ahead_.text = session_.backend.Message(session_.folder, uid_);
            ahead_.read = true;
        }
        return ahead_.text ? &*ahead_.text : nullptr;
    }
    bool HasWhole() const override { return ahead_.read; }
    std::optional<std::string> Range(std::uint64_t offset, std::uint64_t count) override {
        if (!ahead_.read)
            return session_.backend.MessageRange(session_.folder, uid_, offset, count);
        if (!ahead_.text)
            return std::nullopt;
        return offset < ahead_.text->size() ? ahead_.text->substr(offset, count) : std::string();
    }

private:
    SessionContext& session_;
    std::uint32_t uid_;
    ReadAhead& ahead_;
};

// How large a part may grow: texts are sent in parts of the session's size, the first of them
// smaller, as the batches they come from are.
std::size_t PartLimit(const SessionContext& session, const FetchRun& run) {
    if (!run.needsMessage)
        return session.settings.outputPart;
    return std::min<std::size_t>(session.settings.outputPart, run.batchOctets);
}

// About what the next part will hold when its messages' texts are sent: room for it is made
// once, rather than by doubling it message by message.
std::size_t PartOctets(const SessionContext& session, const FetchRun& run) {
    const auto limit = PartLimit(session, run);
    std::size_t octets = 0;
    for (auto i = run.answered; i < run.indexes.size() && octets < limit; ++i)
        octets += session.messages[run.indexes[i]].summary.size + 128; // and the item names
    return std::min<std::size_t>(octets, limit + kWholeUpTo);
}

Output NextPart(SessionContext& session, const std::shared_ptr<FetchRun>& run) {
    Output output;
    std::string& out = output.bytes;
    if (run->needsMessage)
        out.reserve(PartOctets(session, *run));
    const auto limit = PartLimit(session, *run);
    while (run->answered < run->indexes.size() && out.size() < limit) {
        if (run->needsMessage && run->answered >= run->batchStart + run->batch.size())
            ReadBatch(session, *run);
        ReadAhead unread;
        auto& ahead = run->needsMessage ? run->batch[run->answered - run->batchStart] : unread;
        const auto index = run->indexes[run->answered++];
        auto& message = session.messages[index];
        FetchedText text(session, message.summary.uid, ahead);
        bool flagsChanged = false;
        if (run->marksSeen && !(message.summary.flags & kSeen)) {
            if (const auto modseq = session.backend.SetFlags(session.folder, message.summary.uid,
                                                             message.summary.flags | kSeen,
                                                             message.summary.keywords)) {
                message.summary.flags |= kSeen;
                message.summary.modseq = *modseq;
                flagsChanged = true;
            }
        }
        // A message that has just become \Seen says so, even when FLAGS was not asked for.
        const bool addFlags = flagsChanged && !Asks(run->items, FetchItem::Kind::Flags);
        std::vector<FetchItem> withFlags;
        if (addFlags) {
            withFlags = run->items;
            withFlags.push_back(ItemOf(FetchItem::Kind::Flags, "FLAGS"));
            if (session.condstore && !Asks(withFlags, FetchItem::Kind::Modseq))
                withFlags.push_back(ItemOf(FetchItem::Kind::Modseq, "MODSEQ"));
            if (session.condstore && !Asks(withFlags, FetchItem::Kind::Uid))
                withFlags.insert(withFlags.begin(), ItemOf(FetchItem::Kind::Uid, "UID"));
        }
        const auto mark = out.size();
        out += "* ";
        out += std::to_string(index + 1);
        out += " FETCH ";
        const bool answered =
            AppendFetchResponse(out, addFlags ? withFlags : run->items, message.summary, text);
        ahead.text.reset(); // answered: the batch need not hold it any longer
        if (!answered) {
            out.resize(mark);
            run->gone = true;
            continue;
        }
        out += "\r\n";
    }
    if (run->answered < run->indexes.size()) {
        session.unfinished = {run->tag, "FETCH",
                              [&session, run] { return NextPart(session, run); }};
        return output;
    }
    out += run->gone
               ? Tagged(run->tag, "NO", kMessagesGone)
               : Tagged(run->tag, "OK", std::string(run->byUid ? "UID " : "") + "FETCH completed");
    return output;
}

} // namespace

Output Fetch(SessionContext& session, const Command& command, std::size_t first, bool byUid) {
    const auto& args = command.arguments;
    if ((args.size() != first + 2 && args.size() != first + 3) || !args[first].IsAtom())
        return Answer(Tagged(command.tag, "BAD", "FETCH needs a sequence set and data items"));
    auto request = ParseFetchItems(args[first + 1]);
    if (!request.error.empty())
        return Answer(Tagged(command.tag, "BAD", request.error));
    FetchModifiers modifiers;
    if (args.size() == first + 3) {
        modifiers = ParseFetchModifiers(args[first + 2]);
        if (!modifiers.error.empty())
            return Answer(Tagged(command.tag, "BAD", modifiers.error));
        if (modifiers.vanished && (!byUid || !session.qresync))
            return Answer(
                Tagged(command.tag, "BAD", "VANISHED needs UID FETCH and ENABLE QRESYNC"));
    }
    if (byUid && !Asks(request.items, FetchItem::Kind::Uid))
        request.items.insert(request.items.begin(), ItemOf(FetchItem::Kind::Uid, "UID"));
    // MODSEQ and CHANGEDSINCE enable CONDSTORE; once it is, FLAGS come with MODSEQ.
    if (modifiers.changedSince || Asks(request.items, FetchItem::Kind::Modseq))
        session.condstore = true;
    if (!Asks(request.items, FetchItem::Kind::Modseq) &&
        (modifiers.changedSince ||
         (session.condstore && Asks(request.items, FetchItem::Kind::Flags))))
        request.items.push_back(ItemOf(FetchItem::Kind::Modseq, "MODSEQ"));
    auto run = std::make_shared<FetchRun>();
    if (!session.Resolve(args[first].text, byUid, run->indexes))
        return Answer(Tagged(command.tag, "BAD", "Not a sequence set: " + args[first].text));
    if (modifiers.changedSince)
        std::erase_if(run->indexes, [&](std::size_t i) {
            return session.messages[i].summary.modseq <= *modifiers.changedSince;
        });
    run->tag = command.tag;
    run->byUid = byUid;
    run->marksSeen = request.setsSeen && !session.readOnly;
    run->needsMessage = request.needsMessage;
    run->needsWhole = request.needsWhole;
    run->items = std::move(request.items);
    // The UIDs of the set that have gone come before the messages (RFC 7162's VANISHED).
    const auto vanished =
        modifiers.vanished ? session.VanishedEarlier(*SequenceSet::Parse(args[first].text)) : "";
    auto output = NextPart(session, run);
    output.bytes.insert(0, vanished);
    return output;
}

} // namespace server::imap
