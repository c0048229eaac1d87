// STATUS: counts and UIDs of a folder, selected or not.

#include "server/imap/commands/Commands.h"

#include "server/imap/ImapWire.h"

#include <algorithm>

namespace server::imap {

Output Status(SessionContext& session, const Command& command) {
    const auto& args = command.arguments;
    if (args.size() != 2 || !args[0].IsAString() || !args[1].IsList() || args[1].items.empty())
        return Answer(Tagged(command.tag, "BAD", "STATUS needs a folder name and a list of items"));
    const auto folder = session.FolderOf(args[0].text);
    const auto snapshot = folder ? session.backend.Open(*folder) : nullptr;
    if (!snapshot)
        return Answer(Tagged(command.tag, "NO", "[NONEXISTENT] No such folder"));
    std::string items;
    for (const auto& item : args[1].items) {
        const auto name = AsciiUpper(item.text);
        std::uint64_t value = 0;
        if (!item.IsAtom())
            return Answer(Tagged(command.tag, "BAD", "STATUS items must be atoms"));
        if (name == "MESSAGES") {
            value = snapshot->messages.size();
        } else if (name == "RECENT") {
            // Those no session has taken yet; STATUS takes none.
            const auto from = snapshot->messages.empty()
                                  ? snapshot->uidNext
                                  : session.backend.RecentFrom(*folder, snapshot->uidNext, false);
            value = static_cast<std::uint64_t>(
                std::count_if(snapshot->messages.begin(), snapshot->messages.end(),
                              [&](const auto& m) { return m.uid >= from; }));
        } else if (name == "HIGHESTMODSEQ") {
            value = snapshot->highestModseq;
            session.condstore = true;
        } else if (name == "UIDNEXT") {
            value = snapshot->uidNext;
        } else if (name == "UIDVALIDITY") {
            value = snapshot->uidValidity;
        } else if (name == "UNSEEN") {
            value = static_cast<std::uint64_t>(
                std::count_if(snapshot->messages.begin(), snapshot->messages.end(),
                              [](const auto& m) { return !(m.flags & kSeen); }));
        } else {
            return Answer(Tagged(command.tag, "BAD", "Unknown STATUS item " + item.text));
        }
        items += (items.empty() ? "" : " ") + name + " " + std::to_string(value);
    }
    return Answer("* STATUS " + Quote(MailboxName(*folder)) + " (" + items + ")\r\n" +
                  Tagged(command.tag, "OK", "STATUS completed"));
}

} // namespace server::imap
