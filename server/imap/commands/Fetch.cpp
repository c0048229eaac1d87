// FETCH: the data items asked for, message by message; reading a message's text marks it \Seen
// unless the folder is read-only or the item is a PEEK.

#include "server/imap/commands/Commands.h"

#include "server/imap/ImapFetch.h"
#include "server/imap/ImapWire.h"

#include <algorithm>

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

} // namespace

Output Fetch(SessionContext& session, const Command& command, std::size_t first, bool byUid) {
    const auto& args = command.arguments;
    if (args.size() != first + 2 || !args[first].IsAtom())
        return Answer(Tagged(command.tag, "BAD", "FETCH needs a sequence set and data items"));
    auto request = ParseFetchItems(args[first + 1]);
    if (!request.error.empty())
        return Answer(Tagged(command.tag, "BAD", request.error));
    if (byUid && !Asks(request.items, FetchItem::Kind::Uid))
        request.items.insert(request.items.begin(), ItemOf(FetchItem::Kind::Uid, "UID"));
    std::vector<std::size_t> indexes;
    if (!session.Resolve(args[first].text, byUid, indexes))
        return Answer(Tagged(command.tag, "BAD", "Not a sequence set: " + args[first].text));
    const bool marksSeen = request.setsSeen && !session.readOnly;
    Output output;
    std::string& out = output.bytes;
    bool gone = false;
    for (const auto index : indexes) {
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
        if (marksSeen && !(message.summary.flags & kSeen)) {
            if (session.backend.SetFlags(session.folder, message.summary.uid,
                                         message.summary.flags | kSeen, message.summary.keywords)) {
                message.summary.flags |= kSeen;
                flagsChanged = true;
            }
        }
        // A message that has just become \Seen says so, even when FLAGS was not asked for.
        const bool addFlags = flagsChanged && !Asks(request.items, FetchItem::Kind::Flags);
        std::vector<FetchItem> withFlags;
        if (addFlags) {
            withFlags = request.items;
            withFlags.push_back(ItemOf(FetchItem::Kind::Flags, "FLAGS"));
        }
        const auto mark = out.size();
        out += "* ";
        out += std::to_string(index + 1);
        out += " FETCH ";
        if (!AppendFetchResponse(out, addFlags ? withFlags : request.items, message.summary,
                                 load)) {
            out.resize(mark);
            gone = true;
            continue;
        }
        out += "\r\n";
    }
    out += gone ? Tagged(command.tag, "NO", kMessagesGone)
                : Tagged(command.tag, "OK", std::string(byUid ? "UID " : "") + "FETCH completed");
    return output;
}

} // namespace server::imap
