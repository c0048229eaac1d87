// LIST and LSUB: the folders whose names match the reference and pattern. Every folder counts
// as subscribed, so both list the same.

#include "server/imap/commands/Commands.h"

#include "server/imap/ImapWire.h"
#include "server/imap/commands/MailboxPattern.h"

#include <algorithm>

namespace server::imap {

Output List(SessionContext& session, const Command& command) {
    const auto& args = command.arguments;
    if (args.size() != 2 || !args[0].IsAString() || !args[1].IsAString())
        return Answer(
            Tagged(command.tag, "BAD", command.name + " needs a reference and a pattern"));
    const auto& verb = command.name;
    if (args[1].text.empty())
        return Answer("* " + verb + " (\\Noselect) \"/\" \"\"\r\n" +
                      Tagged(command.tag, "OK", command.name + " completed"));
    auto pattern = args[0].text + args[1].text;
    if (AsciiUpper(pattern.substr(0, 5)) == kInbox)
        pattern = kInbox + pattern.substr(5);
    const auto folders = session.backend.Folders();
    Output output;
    for (const auto& path : folders) {
        const auto name = MailboxName(path);
        if (!MatchesPattern(name, pattern, kDelimiter))
            continue;
        const bool children = std::any_of(folders.begin(), folders.end(), [&](const auto& other) {
            return other.size() > path.size() && other.starts_with(path) &&
                   other[path.size()] == kDelimiter;
        });
        output.bytes += "* " + verb + " (" + (children ? "\\HasChildren" : "\\HasNoChildren") +
                        ") \"/\" " + Quote(name) + "\r\n";
    }
    output.bytes += Tagged(command.tag, "OK", command.name + " completed");
    return output;
}

} // namespace server::imap
