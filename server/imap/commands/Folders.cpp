// CREATE, DELETE and RENAME change the user's folders; SUBSCRIBE and UNSUBSCRIBE the names LSUB
// lists. The Inbox can be neither made, deleted nor renamed away: RENAME of INBOX moves its
// messages into a new folder and leaves it empty (RFC 3501 section 6.3.5).

#include "server/imap/commands/Commands.h"

#include "platform/core/Text.h"

namespace server::imap {

namespace {

bool IsInbox(const std::string& path) {
    return platform::text::EqualsIgnoreCase(path, "Inbox");
}

std::optional<Output> RefusedName(const Command& command, std::size_t count) {
    const auto& args = command.arguments;
    if (args.size() != count ||
        std::any_of(args.begin(), args.end(), [](const auto& a) { return !a.IsAString(); }))
        return Answer(Tagged(command.tag, "BAD",
                             command.name + (count == 1 ? " needs a folder name"
                                                        : " needs the folder and its new name")));
    return std::nullopt;
}

std::string Answered(const Command& command, FolderOutcome outcome) {
    switch (outcome) {
    case FolderOutcome::Done:
        break;
    case FolderOutcome::AlreadyExists:
        return Tagged(command.tag, "NO", "[ALREADYEXISTS] A folder of that name exists");
    case FolderOutcome::NoSuchFolder:
        return Tagged(command.tag, "NO", "[NONEXISTENT] No such folder");
    case FolderOutcome::HasSubfolders:
        return Tagged(command.tag, "NO", "[CANNOT] The folder has subfolders: delete them first");
    }
    return Tagged(command.tag, "OK", command.name + " completed");
}

const char* kNoFolderName = "[CANNOT] That cannot be the name of a folder";

bool IsBelow(const std::string& path, const std::string& folder) {
    return path.size() > folder.size() && path[folder.size()] == kDelimiter &&
           platform::text::EqualsIgnoreCase(path.substr(0, folder.size()), folder);
}

} // namespace

Output Create(SessionContext& session, const Command& command) {
    if (auto refused = RefusedName(command, 1))
        return std::move(*refused);
    const auto path = PathOfMailboxName(command.arguments[0].text);
    if (!path)
        return Answer(Tagged(command.tag, "NO", kNoFolderName));
    if (IsInbox(*path))
        return Answer(Answered(command, FolderOutcome::AlreadyExists));
    return Answer(Answered(command, session.backend.CreateFolder(*path)));
}

Output Delete(SessionContext& session, const Command& command) {
    if (auto refused = RefusedName(command, 1))
        return std::move(*refused);
    const auto path = session.FolderOf(command.arguments[0].text);
    if (!path)
        return Answer(Answered(command, FolderOutcome::NoSuchFolder));
    if (IsInbox(*path))
        return Answer(Tagged(command.tag, "NO", "[CANNOT] The Inbox cannot be deleted"));
    const auto outcome = session.backend.DeleteFolder(*path);
    if (outcome == FolderOutcome::Done && session.state == SessionState::Selected &&
        session.folder == *path)
        session.Deselect();
    return Answer(Answered(command, outcome));
}

Output Rename(SessionContext& session, const Command& command) {
    if (auto refused = RefusedName(command, 2))
        return std::move(*refused);
    const auto& oldName = command.arguments[0].text;
    const auto from = session.FolderOf(oldName);
    if (!from)
        return Answer(Answered(command, FolderOutcome::NoSuchFolder));
    const auto to = PathOfMailboxName(command.arguments[1].text);
    if (!to || IsBelow(*to, *from))
        return Answer(Tagged(command.tag, "NO", kNoFolderName));
    if (IsInbox(*to))
        return Answer(Answered(command, FolderOutcome::AlreadyExists));
    const auto outcome = session.backend.RenameFolder(*from, *to);
    if (outcome != FolderOutcome::Done)
        return Answer(Answered(command, outcome));
    if (!IsInbox(*from)) {
        // The selected folder goes on under its new name.
        if (session.state == SessionState::Selected &&
            (session.folder == *from || IsBelow(session.folder, *from)))
            session.folder = *to + session.folder.substr(from->size());
        // Subscriptions follow the folders they name.
        const auto oldShown = MailboxName(*from), newShown = MailboxName(*to);
        for (const auto& name : session.backend.Subscriptions())
            if (name == oldShown ||
                (name.starts_with(oldShown) && name[oldShown.size()] == kDelimiter)) {
                session.backend.SetSubscribed(name, false);
                session.backend.SetSubscribed(newShown + name.substr(oldShown.size()), true);
            }
    }
    return Answer(Answered(command, outcome));
}

Output Subscribe(SessionContext& session, const Command& command) {
    if (auto refused = RefusedName(command, 1))
        return std::move(*refused);
    const auto& name = command.arguments[0].text;
    if (!PathOfMailboxName(name))
        return Answer(Tagged(command.tag, "NO", kNoFolderName));
    session.backend.SetSubscribed(CanonicalMailboxName(name), command.name == "SUBSCRIBE");
    return Answer(Tagged(command.tag, "OK", command.name + " completed"));
}

} // namespace server::imap
