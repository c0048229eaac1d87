// FETCH: the data items asked for, message by message, in parts of about the session's output
// part; reading a message's text marks it \Seen unless the folder is read-only or the item is a
// PEEK.

#include "server/imap/commands/Commands.h"

#include "server/imap/ImapFetch.h"
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

// A FETCH under way, answered a part at a time: the rest waits until the part has been sent.
struct FetchRun {
    std::string tag;
    bool byUid = false;
    bool marksSeen = false;
    std::vector<FetchItem> items;
    std::vector<std::size_t> indexes; // into the session's messages
    std::size_t answered = 0;         // of `indexes`
    bool gone = false;                // a message had been removed meanwhile
};

Output NextPart(SessionContext& session, const std::shared_ptr<FetchRun>& run) {
    Output output;
    std::string& out = output.bytes;
    while (run->answered < run->indexes.size() && out.size() < session.settings.outputPart) {
        const auto index = run->indexes[run->answered++];
        auto& message = session.messages[index];
        std::optional<std::string> whole;
        bool loaded = false;
        const auto load = [&]() -> const std::string* {
            if (!loaded) {
                whole = session.backend.Message(session.folder, message.summary.uid);
                loaded = true;
            }
            return whole ? &*whole : nullptr;
        };
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
        }
        const auto mark = out.size();
        out += "* ";
        out += std::to_string(index + 1);
        out += " FETCH ";
        if (!AppendFetchResponse(out, addFlags ? withFlags : run->items, message.summary, load)) {
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
    run->items = std::move(request.items);
    return NextPart(session, run);
}

} // namespace server::imap
