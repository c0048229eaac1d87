// EXPUNGE (and UID EXPUNGE, and CLOSE's silent one): the \Deleted messages removed from the store
// and from the session's numbering.

#include "server/imap/commands/Commands.h"

#include "server/imap/ImapWire.h"

namespace server::imap {

Output Expunge(SessionContext& session, const Command& command) {
    if (!command.arguments.empty())
        return Answer(Tagged(command.tag, "BAD", "EXPUNGE takes no arguments"));
    return RemoveDeleted(session, command.tag, nullptr, false);
}

Output RemoveDeleted(SessionContext& session, const std::string& tag,
                     const std::vector<Argument>* uidSet, bool silent) {
    if (session.readOnly)
        return Answer(Tagged(tag, "NO", kFolderReadOnly));
    auto& messages = session.messages;
    std::vector<std::size_t> indexes;
    if (uidSet) {
        if (uidSet->size() != 1 || !(*uidSet)[0].IsAtom() ||
            !session.Resolve((*uidSet)[0].text, true, indexes))
            return Answer(Tagged(tag, "BAD", "UID EXPUNGE needs a UID set"));
    } else {
        for (std::size_t i = 0; i < messages.size(); ++i)
            indexes.push_back(i);
    }
    std::erase_if(indexes, [&](auto i) { return !(messages[i].summary.flags & kDeleted); });
    std::vector<std::uint32_t> uids;
    for (const auto i : indexes)
        uids.push_back(messages[i].summary.uid);
    if (!uids.empty())
        session.backend.Remove(session.folder, uids);
    Output output;
    output.bytes += session.Expunge(indexes, !silent);
    output.bytes += Tagged(tag, "OK", std::string(uidSet ? "UID " : "") + "EXPUNGE completed");
    return output;
}

} // namespace server::imap
