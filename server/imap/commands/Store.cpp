// STORE: a flag change applied to each message named, saved through the backend only when it
// changes something; with RFC 7162's UNCHANGEDSINCE only to the messages not changed since, the
// others named in [MODIFIED ...].

#include "server/imap/commands/Commands.h"

#include "server/imap/ImapFetch.h"
#include "server/imap/ImapSequenceSet.h"
#include "server/imap/commands/FlagChange.h"

namespace server::imap {

namespace {

// "(UNCHANGEDSINCE n)": the mod-sequence, or nothing when it is not that.
std::optional<std::uint64_t> ReadUnchangedSince(const Argument& modifiers) {
    if (modifiers.items.size() != 2 || !modifiers.items[0].IsAtom() ||
        AsciiUpper(modifiers.items[0].text) != "UNCHANGEDSINCE")
        return std::nullopt;
    return ParseModseq(modifiers.items[1]);
}

} // namespace

Output Store(SessionContext& session, const Command& command, std::size_t first, bool byUid) {
    const auto& args = command.arguments;
    std::optional<std::uint64_t> unchangedSince;
    // The modifier list comes between the set and the item.
    const bool modified = args.size() > first + 1 && args[first + 1].IsList();
    if (modified) {
        unchangedSince = ReadUnchangedSince(args[first + 1]);
        if (!unchangedSince)
            return Answer(Tagged(command.tag, "BAD", "STORE takes only (UNCHANGEDSINCE n)"));
    }
    const auto at = first + (modified ? 1 : 0);
    if (args.size() < at + 3 || !args[first].IsAtom() || !args[at + 1].IsAtom())
        return Answer(Tagged(command.tag, "BAD", "STORE needs a sequence set, an item and flags"));
    if (session.readOnly)
        return Answer(Tagged(command.tag, "NO", kFolderReadOnly));
    const auto request =
        ReadFlagChange(args[at + 1], std::span<const Argument>(args).subspan(at + 2));
    if (!request.error.empty())
        return Answer(Tagged(command.tag, "BAD", request.error));
    std::vector<std::size_t> indexes;
    if (!session.Resolve(args[first].text, byUid, indexes))
        return Answer(Tagged(command.tag, "BAD", "Not a sequence set: " + args[first].text));
    if (unchangedSince)
        session.condstore = true;
    Output output;
    bool gone = false;
    std::vector<std::uint32_t> refused; // numbers (or UIDs) changed since
    for (const auto index : indexes) {
        auto& summary = session.messages[index].summary;
        const auto number = byUid ? summary.uid : static_cast<std::uint32_t>(index + 1);
        // What the session knows already fails the condition without asking the store.
        if (unchangedSince && summary.modseq > *unchangedSince) {
            refused.push_back(number);
            continue;
        }
        auto newFlags = summary.flags;
        auto newKeywords = summary.keywords;
        request.change.ApplyTo(newFlags, newKeywords);
        bool saved = false;
        if (newFlags != summary.flags || newKeywords != summary.keywords) {
            const auto save = session.backend.SaveFlags(session.folder, summary.uid, newFlags,
                                                        newKeywords, unchangedSince);
            if (save.outcome == FlagSave::Outcome::Gone) {
                gone = true;
                continue;
            }
            if (save.outcome == FlagSave::Outcome::Modified) {
                refused.push_back(number);
                continue;
            }
            summary.flags = newFlags;
            summary.keywords = newKeywords;
            summary.modseq = save.modseq;
            saved = true;
        }
        // Under CONDSTORE a silent change still tells its new mod-sequence.
        if (!request.change.silent)
            output.bytes += session.FetchFlags(index, byUid);
        else if (saved && session.condstore)
            output.bytes += session.FetchFlags(index, byUid, false);
    }
    const std::string done = std::string(byUid ? "UID " : "") + "STORE completed";
    if (gone)
        output.bytes += Tagged(command.tag, "NO", kMessagesGone);
    else if (!refused.empty())
        output.bytes += Tagged(command.tag, "OK",
                               "[MODIFIED " + FormatNumberSet(refused) + "] Conditional " +
                                   (byUid ? "UID " : "") + "STORE failed");
    else
        output.bytes += Tagged(command.tag, "OK", done);
    return output;
}

} // namespace server::imap
