// APPEND (with RFC 3502's several messages in one command): messages a client saves into a
// folder, answered with the UIDs they got (RFC 4315's APPENDUID).

#include "server/imap/commands/Commands.h"

#include "server/imap/ImapFetch.h"
#include "server/imap/ImapSequenceSet.h"
#include "server/imap/commands/FlagChange.h"

namespace server::imap {

namespace {

// Reads "[flags] [date-time] literal" groups from `at` on; "" when they were all read.
std::string ReadMessages(const std::vector<Argument>& args, std::size_t at,
                         std::vector<NewMessage>& messages) {
    while (at < args.size()) {
        NewMessage message;
        if (args[at].IsList()) {
            FlagChange flags;
            if (auto error = ReadFlags(std::span(&args[at], 1), flags); !error.empty())
                return error;
            message.flags = flags.flags;
            message.keywords = std::move(flags.keywords);
            ++at;
        }
        if (at + 1 < args.size() && args[at].kind == Argument::Kind::String && !args[at].literal) {
            message.internalDate = ParseInternalDate(args[at].text);
            if (!message.internalDate)
                return "Not a date-time: " + args[at].text;
            ++at;
        }
        if (at == args.size() || !args[at].literal)
            return "APPEND needs the message as a literal";
        message.bytes = args[at].text;
        messages.push_back(std::move(message));
        ++at;
    }
    return messages.empty() ? "APPEND needs a message" : "";
}

} // namespace

Output Append(SessionContext& session, const Command& command) {
    const auto& args = command.arguments;
    if (args.empty() || !args[0].IsAString())
        return Answer(Tagged(command.tag, "BAD", "APPEND needs a folder name and a message"));
    std::vector<NewMessage> messages;
    if (const auto error = ReadMessages(args, 1, messages); !error.empty())
        return Answer(Tagged(command.tag, "BAD", error));
    const auto folder = session.FolderOf(args[0].text);
    const auto saved = folder ? session.backend.Append(*folder, messages) : std::nullopt;
    if (!saved)
        return Answer(Tagged(command.tag, "NO", "[TRYCREATE] No such folder"));
    // A client that appends to the folder it has open hears of the message at once.
    auto out = *folder == session.folder ? session.Synchronize() : std::string();
    return Answer(out + Tagged(command.tag, "OK",
                               "[APPENDUID " + std::to_string(saved->uidValidity) + " " +
                                   FormatNumberSet(saved->uids) + "] APPEND completed"));
}

} // namespace server::imap
