// COPY and MOVE (RFC 6851), by sequence numbers or UIDs: the messages saved into another folder
// with their flags, keywords and dates, answered with RFC 4315's COPYUID; MOVE then removes them
// here and reports each as expunged.

#include "server/imap/commands/Commands.h"

#include "server/imap/ImapSequenceSet.h"

#include <set>

namespace server::imap {

Output CopyOrMove(SessionContext& session, const Command& command, std::size_t first, bool byUid,
                  bool move) {
    const auto& args = command.arguments;
    const auto verb = std::string(byUid ? "UID " : "") + (move ? "MOVE" : "COPY");
    if (args.size() != first + 2 || !args[first].IsAtom() || !args[first + 1].IsAString())
        return Answer(Tagged(command.tag, "BAD", verb + " needs a sequence set and a folder"));
    std::vector<std::size_t> indexes;
    if (!session.Resolve(args[first].text, byUid, indexes))
        return Answer(Tagged(command.tag, "BAD", "Not a sequence set: " + args[first].text));
    if (move && session.readOnly)
        return Answer(Tagged(command.tag, "NO", kFolderReadOnly));
    const auto destination = session.FolderOf(args[first + 1].text);
    if (!destination)
        return Answer(Tagged(command.tag, "NO", "[TRYCREATE] No such folder"));
    std::vector<std::uint32_t> uids;
    for (const auto index : indexes)
        uids.push_back(session.messages[index].summary.uid);
    const auto saved = session.backend.Copy(session.folder, uids, *destination);
    if (!saved)
        return Answer(Tagged(command.tag, "NO", "[TRYCREATE] No such folder"));
    const auto copyUid = saved->uids.empty() ? std::string()
                                             : "[COPYUID " + std::to_string(saved->uidValidity) +
                                                   " " + FormatNumberSet(saved->sources) + " " +
                                                   FormatNumberSet(saved->uids) + "] ";
    const bool gone = saved->sources.size() < uids.size();
    Output output;
    if (move) {
        if (!copyUid.empty())
            output.bytes += "* OK " + copyUid + "Moved\r\n";
        session.backend.Remove(session.folder, saved->sources);
        const std::set<std::uint32_t> moved(saved->sources.begin(), saved->sources.end());
        std::erase_if(indexes,
                      [&](std::size_t i) { return !moved.count(session.messages[i].summary.uid); });
        output.bytes += session.Expunge(indexes);
    }
    if (*destination == session.folder)
        output.bytes += session.Synchronize();
    output.bytes +=
        gone ? Tagged(command.tag, "NO", kMessagesGone)
             : Tagged(command.tag, "OK", (move ? std::string() : copyUid) + verb + " completed");
    return output;
}

} // namespace server::imap
