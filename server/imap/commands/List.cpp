// LIST (with RFC 5258's selection and return options, and RFC 6154's special-use attributes)
// and LSUB: the folders, or the subscribed names, that match the reference and patterns.

#include "server/imap/commands/Commands.h"

#include "server/imap/ImapWire.h"
#include "server/imap/commands/MailboxPattern.h"

#include "platform/core/Text.h"

#include <algorithm>
#include <set>

namespace server::imap {

namespace {

struct ListRequest {
    bool subscribedOnly = false;   // selection SUBSCRIBED (and LSUB)
    bool specialUseOnly = false;   // selection SPECIAL-USE
    bool returnSubscribed = false; // \Subscribed on each line
    std::string reference;
    std::vector<std::string> patterns;
    std::string error;
};

// Reads "[(selection)] reference pattern-or-(patterns) [RETURN (options)]".
ListRequest ReadList(const Command& command) {
    ListRequest request;
    const auto& args = command.arguments;
    std::size_t at = 0;
    const bool extended = command.name == "LIST";
    auto fail = [&](std::string why) {
        request.error = std::move(why);
        return request;
    };
    if (extended && at < args.size() && args[at].IsList()) {
        for (const auto& option : args[at].items) {
            const auto name = option.IsAtom() ? AsciiUpper(option.text) : std::string();
            if (name == "SUBSCRIBED")
                request.subscribedOnly = request.returnSubscribed = true;
            else if (name == "SPECIAL-USE")
                request.specialUseOnly = true;
            else if (name != "REMOTE" && name != "RECURSIVEMATCH")
                return fail("Unknown LIST selection option " + option.text);
        }
        ++at;
    }
    if (args.size() < at + 2 || !args[at].IsAString())
        return fail(command.name + " needs a reference and a pattern");
    request.reference = args[at].text;
    const auto& patterns = args[at + 1];
    if (patterns.IsList() && extended && !patterns.items.empty()) {
        for (const auto& pattern : patterns.items) {
            if (!pattern.IsAString())
                return fail("Patterns must be strings");
            request.patterns.push_back(pattern.text);
        }
    } else if (patterns.IsAString()) {
        request.patterns.push_back(patterns.text);
    } else {
        return fail(command.name + " needs a reference and a pattern");
    }
    at += 2;
    if (extended && at + 2 == args.size() && args[at].IsAtom() &&
        AsciiUpper(args[at].text) == "RETURN" && args[at + 1].IsList()) {
        for (const auto& option : args[at + 1].items) {
            const auto name = option.IsAtom() ? AsciiUpper(option.text) : std::string();
            if (name == "SUBSCRIBED")
                request.returnSubscribed = true;
            else if (name != "CHILDREN" && name != "SPECIAL-USE")
                return fail("Unknown LIST return option " + option.text);
        }
        at += 2;
    }
    if (at != args.size())
        return fail(command.name + " has arguments it does not take");
    return request;
}

struct Listed {
    std::string attributes;
    bool exists = false;
};

} // namespace

Output List(SessionContext& session, const Command& command) {
    auto request = ReadList(command);
    if (command.name == "LSUB")
        request.subscribedOnly = true;
    if (!request.error.empty())
        return Answer(Tagged(command.tag, "BAD", request.error));
    const auto& verb = command.name;
    if (request.patterns.size() == 1 && request.patterns[0].empty())
        return Answer("* " + verb + " (\\Noselect) \"/\" \"\"\r\n" +
                      Tagged(command.tag, "OK", command.name + " completed"));
    const auto folders = session.backend.Folders();
    std::set<std::string> subscribed;
    if (request.subscribedOnly || request.returnSubscribed)
        for (const auto& name : session.backend.Subscriptions())
            subscribed.insert(CanonicalMailboxName(name));
    // Every name to show, in the order folders come, then subscriptions of missing folders.
    std::vector<std::pair<std::string, Listed>> names;
    for (const auto& folder : folders) {
        const bool children = std::any_of(folders.begin(), folders.end(), [&](const auto& other) {
            return other.path.size() > folder.path.size() && other.path.starts_with(folder.path) &&
                   other.path[folder.path.size()] == kDelimiter;
        });
        Listed listed{children ? "\\HasChildren" : "\\HasNoChildren", true};
        if (!folder.specialUse.empty())
            listed.attributes += " " + folder.specialUse;
        else if (request.specialUseOnly)
            continue;
        names.emplace_back(MailboxName(folder.path), std::move(listed));
    }
    if (request.subscribedOnly) {
        std::erase_if(names, [&](const auto& entry) { return !subscribed.count(entry.first); });
        if (!request.specialUseOnly)
            for (const auto& name : subscribed)
                if (std::none_of(names.begin(), names.end(),
                                 [&](const auto& entry) { return entry.first == name; }))
                    names.push_back(
                        {name, {command.name == "LSUB" ? "\\Noselect" : "\\NonExistent", false}});
    }
    Output output;
    for (auto& entry : names) {
        const auto& name = entry.first;
        auto& listed = entry.second;
        const bool matches =
            std::any_of(request.patterns.begin(), request.patterns.end(), [&](const auto& p) {
                auto pattern = request.reference + p;
                if (AsciiUpper(pattern.substr(0, 5)) == kInbox)
                    pattern = kInbox + pattern.substr(5);
                return MatchesPattern(name, pattern, kDelimiter);
            });
        if (!matches)
            continue;
        if (request.returnSubscribed && subscribed.count(name))
            listed.attributes += " \\Subscribed";
        output.bytes += "* " + verb + " (" + listed.attributes + ") \"/\" " + Quote(name) + "\r\n";
    }
    output.bytes += Tagged(command.tag, "OK", command.name + " completed");
    return output;
}

} // namespace server::imap
