// SEARCH: the numbers (or UIDs) of the messages that match the criteria; a message's text is
// read only when a criterion needs it.

#include "server/imap/commands/Commands.h"

#include "server/imap/ImapSearch.h"

#include <algorithm>

namespace server::imap {

Output Search(SessionContext& session, const Command& command, std::size_t first, bool byUid) {
    const auto request = ParseSearch(command.arguments, first);
    if (request.badCharset)
        return Answer(Tagged(command.tag, "NO", "[BADCHARSET (UTF-8 US-ASCII)] " + request.error));
    if (!request.error.empty())
        return Answer(Tagged(command.tag, "BAD", request.error));
    if (request.modseq)
        session.condstore = true;
    std::string result = "* SEARCH";
    std::uint64_t highest = 0; // of the messages found
    const auto& messages = session.messages;
    const auto largestUid = messages.empty() ? 0u : messages.back().summary.uid;
    for (std::size_t i = 0; i < messages.size(); ++i) {
        const auto& message = messages[i];
        std::optional<std::string> whole;
        SearchSubject subject;
        subject.number = static_cast<std::uint32_t>(i + 1);
        subject.largestNumber = static_cast<std::uint32_t>(messages.size());
        subject.largestUid = largestUid;
        subject.recent = message.recent;
        subject.summary = &message.summary;
        subject.message = [&]() -> const std::string& {
            if (!whole)
                whole = session.backend.Message(session.folder, message.summary.uid).value_or("");
            return *whole;
        };
        if (Matches(request.key, subject)) {
            result += " " + std::to_string(byUid ? message.summary.uid : i + 1);
            highest = std::max(highest, message.summary.modseq);
        }
    }
    // RFC 7162: a search by MODSEQ that finds something says the highest mod-sequence of it.
    if (request.modseq && highest > 0)
        result += " (MODSEQ " + std::to_string(highest) + ")";
    return Answer(result + "\r\n" +
                  Tagged(command.tag, "OK", std::string(byUid ? "UID " : "") + "SEARCH completed"));
}

} // namespace server::imap
