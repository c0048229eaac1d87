// SELECT and EXAMINE open a folder (EXAMINE read-only) and report its flags, keywords, counts and
// UIDs; CLOSE and UNSELECT leave it, CLOSE removing its \Deleted messages first.

#include "server/imap/commands/Commands.h"

#include "server/imap/ImapWire.h"

#include "platform/core/Text.h"

namespace server::imap {

namespace {

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
    // RFC 7162's "(CONDSTORE)", the only parameter there is here.
    if (args.size() == 2) {
        const auto& parameters = args[1];
        if (!parameters.IsList() || parameters.items.size() != 1 || !parameters.items[0].IsAtom() ||
            AsciiUpper(parameters.items[0].text) != "CONDSTORE")
            return Answer(Tagged(command.tag, "BAD", command.name + " takes only (CONDSTORE)"));
        session.condstore = true;
    }
    const bool readOnly = command.name == "EXAMINE";
    // A failed SELECT leaves no folder selected.
    session.Deselect();
    const auto folder = session.FolderOf(args[0].text);
    const auto snapshot = folder ? session.backend.Open(*folder) : nullptr;
    if (!snapshot)
        return Answer(Tagged(command.tag, "NO", "[NONEXISTENT] No such folder"));
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
    out.append("* FLAGS (\\Answered \\Flagged \\Deleted \\Seen \\Draft").append(keywords);
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
    out += Tagged(command.tag, "OK",
                  std::string(readOnly ? "[READ-ONLY] " : "[READ-WRITE] ") + command.name +
                      " completed");
    return output;
}

Output Close(SessionContext& session, const Command& command) {
    if (command.name == "CLOSE" && !session.readOnly)
        RemoveDeleted(session, command.tag, nullptr, true);
    session.Deselect();
    return Answer(Tagged(command.tag, "OK", command.name + " completed"));
}

} // namespace server::imap
