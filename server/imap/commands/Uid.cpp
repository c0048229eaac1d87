// UID: FETCH, STORE, SEARCH, EXPUNGE, COPY and MOVE with UIDs in place of sequence numbers.

#include "server/imap/commands/Commands.h"

namespace server::imap {

Output Uid(SessionContext& session, const Command& command) {
    const auto& args = command.arguments;
    const auto sub = args.empty() || !args[0].IsAtom() ? std::string() : AsciiUpper(args[0].text);
    if (sub == "FETCH")
        return Fetch(session, command, 1, true);
    if (sub == "STORE")
        return Store(session, command, 1, true);
    if (sub == "SEARCH")
        return Search(session, command, 1, true);
    if (sub == "EXPUNGE") {
        const std::vector<Argument> rest(args.begin() + 1, args.end());
        return RemoveDeleted(session, command.tag, &rest, false);
    }
    if (sub == "COPY" || sub == "MOVE")
        return CopyOrMove(session, command, 1, true, sub == "MOVE");
    return Answer(
        Tagged(command.tag, "BAD", "UID takes FETCH, STORE, SEARCH, EXPUNGE, COPY or MOVE"));
}

} // namespace server::imap
