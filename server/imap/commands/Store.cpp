// STORE: a flag change applied to each message named, saved through the backend only when it
// changes something.

#include "server/imap/commands/Commands.h"

#include "server/imap/commands/FlagChange.h"

namespace server::imap {

Output Store(SessionContext& session, const Command& command, std::size_t first, bool byUid) {
    const auto& args = command.arguments;
    if (args.size() < first + 3 || !args[first].IsAtom() || !args[first + 1].IsAtom())
        return Answer(Tagged(command.tag, "BAD", "STORE needs a sequence set, an item and flags"));
    if (session.readOnly)
        return Answer(Tagged(command.tag, "NO", kFolderReadOnly));
    const auto request =
        ReadFlagChange(args[first + 1], std::span<const Argument>(args).subspan(first + 2));
    if (!request.error.empty())
        return Answer(Tagged(command.tag, "BAD", request.error));
    std::vector<std::size_t> indexes;
    if (!session.Resolve(args[first].text, byUid, indexes))
        return Answer(Tagged(command.tag, "BAD", "Not a sequence set: " + args[first].text));
    Output output;
    bool gone = false;
    for (const auto index : indexes) {
        auto& summary = session.messages[index].summary;
        auto newFlags = summary.flags;
        auto newKeywords = summary.keywords;
        request.change.ApplyTo(newFlags, newKeywords);
        if (newFlags != summary.flags || newKeywords != summary.keywords) {
            if (!session.backend.SetFlags(session.folder, summary.uid, newFlags, newKeywords)) {
                gone = true;
                continue;
            }
            summary.flags = newFlags;
            summary.keywords = newKeywords;
        }
        if (!request.change.silent)
            output.bytes += session.FetchFlags(index, byUid);
    }
    output.bytes +=
        gone ? Tagged(command.tag, "NO", kMessagesGone)
             : Tagged(command.tag, "OK", std::string(byUid ? "UID " : "") + "STORE completed");
    return output;
}

} // namespace server::imap
