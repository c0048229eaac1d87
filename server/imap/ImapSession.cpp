// The IMAP state machine: each command checked against the session's state, run against the
// backend, and answered with the untagged and tagged responses it calls for.

#include "server/imap/ImapSession.h"

#include "server/imap/ImapFetch.h"
#include "server/imap/ImapSearch.h"
#include "server/imap/ImapSequenceSet.h"
#include "server/imap/ImapWire.h"

#include "platform/core/Text.h"

#include <boost/beast/core/detail/base64.hpp>

#include <algorithm>
#include <exception>
#include <map>
#include <set>

namespace server::imap {

namespace {

constexpr const char* kCapabilities =
    "IMAP4rev1 LITERAL+ SASL-IR AUTH=PLAIN IDLE UIDPLUS UNSELECT NAMESPACE ID ENABLE";
constexpr const char* kInbox = "INBOX";
constexpr char kDelimiter = '/';

// RFC 3501 LIST wildcards: "*" matches anything, "%" anything but the hierarchy delimiter.
// Matched a pattern character at a time over every prefix of the name, so that a pattern of many
// wildcards costs its length times the name's, never an exponential search or deep recursion.
bool MatchesPattern(std::string_view name, std::string_view pattern) {
    // matched[i]: the pattern so far matches the first i bytes of the name.
    std::vector<char> matched(name.size() + 1, 0), next(name.size() + 1);
    matched[0] = 1;
    for (const char p : pattern) {
        std::fill(next.begin(), next.end(), 0);
        if (p == '*' || p == '%') {
            bool reached = false;
            for (std::size_t i = 0; i <= name.size(); ++i) {
                reached = reached || matched[i];
                next[i] = reached;
                if (p == '%' && i < name.size() && name[i] == kDelimiter)
                    reached = false;
            }
        } else {
            for (std::size_t i = 0; i < name.size(); ++i)
                next[i + 1] = matched[i] && name[i] == p;
        }
        matched.swap(next);
    }
    return matched[name.size()];
}

std::optional<std::string> DecodeBase64(std::string_view text) {
    namespace base64 = boost::beast::detail::base64;
    // Whole groups of four only: Beast's decoder sizes its output for those, and writes past
    // decoded_size() for a partial one.
    if (text.size() % 4 != 0)
        return std::nullopt;
    std::string out(base64::decoded_size(text.size()), '\0');
    const auto [written, read] = base64::decode(out.data(), text.data(), text.size());
    for (auto c : text.substr(read))
        if (c != '=')
            return std::nullopt;
    out.resize(written);
    return out;
}

// Control bytes a response would quote show as "?", so that no text can break a line.
std::string Printable(std::string_view text) {
    std::string out(text.substr(0, 200));
    for (auto& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    return out;
}

} // namespace

void Output::Append(Output&& more) {
    bytes += more.bytes;
    delay += more.delay;
    close = close || more.close;
}

Session::Session(Backend& backend, SessionSettings settings)
    : backend_(backend), settings_(std::move(settings)), input_(settings_.limits) {
}

std::string Session::Greeting() const {
    return std::string("* OK [CAPABILITY ") + kCapabilities + "] " + settings_.hostName +
           " IMAP ready\r\n";
}

std::string Session::Bye(std::string_view why) {
    return "* BYE " + Printable(why) + "\r\n";
}

std::string Session::Tagged(const std::string& tag, std::string_view status,
                            std::string_view text) {
    return tag + " " + std::string(status) + " " + Printable(text) + "\r\n";
}

Output Session::Receive(std::string_view bytes) {
    Output output;
    if (Closed())
        return output;
    input_.Append(bytes);
    while (!Closed() && !output.close) {
        auto event = input_.Next();
        if (!event)
            break;
        using Kind = InputEvent::Kind;
        switch (event->kind) {
        case Kind::Command:
            output.Append(Line(event->text));
            break;
        case Kind::Continue:
            output.bytes += "+ Ready for the literal\r\n";
            break;
        case Kind::LineTooLong:
            output.bytes += Tagged(TagOf(event->text), "BAD",
                                   "Line too long: at most " +
                                       std::to_string(settings_.limits.maxLine) + " octets");
            break;
        case Kind::LiteralTooLarge:
            output.bytes += Tagged(TagOf(event->text), "BAD",
                                   "[TOOBIG] Literal too large: at most " +
                                       std::to_string(settings_.limits.maxLiteral) + " octets");
            break;
        case Kind::LiteralTooLargeNow:
            output.bytes += Tagged(TagOf(event->text), "BAD",
                                   "[TOOBIG] Literal too large: at most " +
                                       std::to_string(settings_.limits.maxLiteral) + " octets");
            output.bytes += Bye("The literal announced cannot be taken; closing");
            output.close = true;
            state_ = State::Logout;
            break;
        }
    }
    if (Closed()) {
        output.close = true;
        input_.Clear();
    }
    return output;
}

Output Session::Poll() {
    Output output;
    if (idle_)
        output.bytes = Synchronize();
    return output;
}

Output Session::Line(std::string_view line) {
    if (authenticating_)
        return ContinueAuthentication(line);
    if (idle_)
        return ContinueIdle(line);
    const auto parsed = ParseCommand(line);
    if (!parsed.error.empty()) {
        Output output;
        output.bytes = Tagged(TagOf(line), "BAD", "Syntax error: " + parsed.error);
        return output;
    }
    try {
        return Execute(parsed.command);
    } catch (const std::exception& failure) {
        Output output;
        output.bytes =
            Tagged(parsed.command.tag, "NO", std::string("[UNAVAILABLE] ") + failure.what());
        return output;
    }
}

Output Session::Execute(const Command& command) {
    const auto& name = command.name;
    const auto& tag = command.tag;
    const auto count = command.arguments.size();
    Output output;
    const auto bad = [&](std::string_view text) {
        output.bytes = Tagged(tag, "BAD", text);
        return output;
    };
    if (name == "CAPABILITY") {
        return Capability(command);
    }
    if (name == "NOOP" || name == "CHECK") {
        if (name == "CHECK" && state_ != State::Selected)
            return bad("CHECK needs a selected folder");
        output.bytes = Synchronize() + Tagged(tag, "OK", name + " completed");
        return output;
    }
    if (name == "LOGOUT") {
        state_ = State::Logout;
        output.bytes =
            Bye(settings_.hostName + " logging out") + Tagged(tag, "OK", "LOGOUT completed");
        output.close = true;
        return output;
    }
    if (name == "ID") {
        output.bytes = "* ID (\"name\" \"exhost\")\r\n" + Tagged(tag, "OK", "ID completed");
        return output;
    }
    if (state_ == State::NotAuthenticated) {
        if (name == "LOGIN")
            return Login(command);
        if (name == "AUTHENTICATE")
            return Authenticate(command);
        if (name == "STARTTLS")
            return bad("STARTTLS is not offered here: this server has no TLS");
        return bad(name + " needs a login first (LOGIN or AUTHENTICATE)");
    }
    if (name == "LOGIN" || name == "AUTHENTICATE")
        return bad("Already logged in");
    if (name == "STARTTLS")
        return bad("STARTTLS is not offered here: this server has no TLS");
    if (name == "SELECT" || name == "EXAMINE")
        return Select(command, name == "EXAMINE");
    if (name == "LIST" || name == "LSUB")
        return List(command, name == "LSUB");
    if (name == "STATUS")
        return Status(command);
    if (name == "NAMESPACE") {
        output.bytes =
            "* NAMESPACE ((\"\" \"/\")) NIL NIL\r\n" + Tagged(tag, "OK", "NAMESPACE completed");
        return output;
    }
    if (name == "ENABLE") {
        output.bytes = "* ENABLED\r\n" + Tagged(tag, "OK", "ENABLE completed");
        return output;
    }
    if (name == "SUBSCRIBE" || name == "UNSUBSCRIBE") {
        // Every folder counts as subscribed: LSUB lists them all.
        output.bytes = Tagged(tag, "OK", name + " completed");
        return output;
    }
    if (name == "IDLE")
        return Idle(command);
    if (name == "CREATE" || name == "DELETE" || name == "RENAME" || name == "APPEND" ||
        name == "COPY" || name == "MOVE") {
        output.bytes = Tagged(tag, "NO", name + " is not supported by this server");
        return output;
    }
    const bool selectedCommand = name == "CLOSE" || name == "UNSELECT" || name == "EXPUNGE" ||
                                 name == "FETCH" || name == "STORE" || name == "SEARCH" ||
                                 name == "UID";
    if (!selectedCommand)
        return bad("Unknown command " + name);
    if (state_ != State::Selected)
        return bad(name + " needs a selected folder");
    if (name == "CLOSE" || name == "UNSELECT") {
        if (name == "CLOSE" && !readOnly_)
            Expunge(tag, nullptr, true);
        state_ = State::Authenticated;
        messages_.clear();
        folder_.clear();
        output.bytes = Tagged(tag, "OK", name + " completed");
        return output;
    }
    if (name == "EXPUNGE") {
        if (count != 0)
            return bad("EXPUNGE takes no arguments");
        return Expunge(tag, nullptr, false);
    }
    if (name == "FETCH")
        return Fetch(command, 0, false);
    if (name == "STORE")
        return Store(command, 0, false);
    if (name == "SEARCH")
        return Search(command, 0, false);
    return Uid(command);
}

Output Session::Capability(const Command& command) {
    Output output;
    output.bytes = std::string("* CAPABILITY ") + kCapabilities + "\r\n" +
                   Tagged(command.tag, "OK", "CAPABILITY completed");
    return output;
}

Output Session::Login(const Command& command) {
    const auto& args = command.arguments;
    if (args.size() != 2 || !args[0].IsAString() || !args[1].IsAString()) {
        Output output;
        output.bytes = Tagged(command.tag, "BAD", "LOGIN needs a user name and a password");
        return output;
    }
    return LoginWith(command.tag, args[0].text, args[1].text);
}

Output Session::Authenticate(const Command& command) {
    const auto& args = command.arguments;
    Output output;
    if (args.empty() || args.size() > 2 || !args[0].IsAtom()) {
        output.bytes = Tagged(command.tag, "BAD", "AUTHENTICATE needs a mechanism");
        return output;
    }
    if (AsciiUpper(args[0].text) != "PLAIN") {
        output.bytes = Tagged(command.tag, "NO", "Only the PLAIN mechanism is supported");
        return output;
    }
    if (args.size() == 2) {
        if (!args[1].IsAtom()) {
            output.bytes = Tagged(command.tag, "BAD", "The initial response must be base64");
            return output;
        }
        authenticating_ = command.tag;
        return ContinueAuthentication(args[1].text);
    }
    authenticating_ = command.tag;
    output.bytes = "+ \r\n";
    return output;
}

Output Session::ContinueAuthentication(std::string_view line) {
    const auto tag = *authenticating_;
    authenticating_.reset();
    Output output;
    if (line == "*") {
        output.bytes = Tagged(tag, "BAD", "AUTHENTICATE cancelled");
        return output;
    }
    // "=" is an empty initial response (RFC 4959).
    const auto decoded = line == "=" ? std::optional<std::string>("") : DecodeBase64(line);
    if (!decoded) {
        output.bytes = Tagged(tag, "BAD", "The response is not base64");
        return output;
    }
    // authzid NUL authcid NUL password (RFC 4616).
    const auto first = decoded->find('\0');
    const auto second = first == std::string::npos ? first : decoded->find('\0', first + 1);
    if (second == std::string::npos || decoded->find('\0', second + 1) != std::string::npos) {
        output.bytes = Tagged(tag, "BAD", "A PLAIN response is authzid NUL authcid NUL password");
        return output;
    }
    const auto authzid = decoded->substr(0, first);
    const auto authcid = decoded->substr(first + 1, second - first - 1);
    if (!authzid.empty() && authzid != authcid) {
        output.bytes =
            Tagged(tag, "NO", "[AUTHORIZATIONFAILED] Acting as another user is not allowed");
        return output;
    }
    return LoginWith(tag, authcid, decoded->substr(second + 1));
}

Output Session::LoginWith(const std::string& tag, const std::string& name,
                          const std::string& password) {
    Output output;
    if (!name.empty() && !password.empty() &&
        backend_.Login(name, password) == LoginOutcome::Accepted) {
        failedLogins_ = 0;
        state_ = State::Authenticated;
        output.bytes =
            Tagged(tag, "OK", std::string("[CAPABILITY ") + kCapabilities + "] Logged in");
        return output;
    }
    ++failedLogins_;
    output.delay = settings_.failedLoginDelay;
    output.bytes = Tagged(tag, "NO", "[AUTHENTICATIONFAILED] Wrong user name or password");
    if (failedLogins_ >= settings_.maxFailedLogins) {
        output.bytes += Bye("Too many failed logins");
        output.close = true;
        state_ = State::Logout;
    }
    return output;
}

std::string Session::MailboxName(const std::string& folderPath) const {
    const auto slash = folderPath.find(kDelimiter);
    const auto first = folderPath.substr(0, slash);
    if (platform::text::EqualsIgnoreCase(first, "Inbox"))
        return kInbox + (slash == std::string::npos ? std::string()
                                                    : MailboxNameOf(folderPath.substr(slash)));
    return MailboxNameOf(folderPath);
}

std::optional<std::string> Session::FolderOf(const std::string& name) {
    for (const auto& path : backend_.Folders()) {
        const auto shown = MailboxName(path);
        const bool inboxPart =
            AsciiUpper(name.substr(0, 5)) == kInbox && (name.size() == 5 || name[5] == kDelimiter);
        const auto wanted = inboxPart ? kInbox + name.substr(5) : name;
        if (shown == wanted)
            return path;
    }
    return std::nullopt;
}

Output Session::Select(const Command& command, bool readOnly) {
    Output output;
    const auto& args = command.arguments;
    if (args.size() != 1 || !args[0].IsAString()) {
        output.bytes = Tagged(command.tag, "BAD", command.name + " needs a folder name");
        return output;
    }
    // A failed SELECT leaves no folder selected.
    state_ = State::Authenticated;
    messages_.clear();
    const auto folder = FolderOf(args[0].text);
    auto snapshot = folder ? backend_.Open(*folder) : std::nullopt;
    if (!snapshot) {
        output.bytes = Tagged(command.tag, "NO", "[NONEXISTENT] No such folder");
        return output;
    }
    folder_ = *folder;
    readOnly_ = readOnly;
    uidValidity_ = snapshot->uidValidity;
    uidNext_ = snapshot->uidNext;
    for (auto& summary : snapshot->messages)
        messages_.push_back({std::move(summary), false});
    state_ = State::Selected;
    std::string& out = output.bytes;
    const auto keywords = KeywordsInUse();
    // Appended piece by piece: the keywords of a large folder take megabytes.
    out.reserve(2 * keywords.size() + 512);
    out.append("* FLAGS (\\Answered \\Flagged \\Deleted \\Seen \\Draft").append(keywords);
    out.append(")\r\n* OK [PERMANENTFLAGS (\\Answered \\Flagged \\Deleted \\Seen \\Draft");
    out.append(keywords).append(" \\*)] Flags and keywords are kept\r\n");
    out += "* " + std::to_string(messages_.size()) + " EXISTS\r\n* 0 RECENT\r\n";
    for (std::size_t i = 0; i < messages_.size(); ++i)
        if (!(messages_[i].summary.flags & kSeen)) {
            out += "* OK [UNSEEN " + std::to_string(i + 1) + "] First unseen\r\n";
            break;
        }
    out += "* OK [UIDVALIDITY " + std::to_string(uidValidity_) + "] UIDs valid\r\n";
    out += "* OK [UIDNEXT " + std::to_string(uidNext_) + "] Predicted next UID\r\n";
    out += Tagged(command.tag, "OK",
                  std::string(readOnly ? "[READ-ONLY] " : "[READ-WRITE] ") + command.name +
                      " completed");
    return output;
}

std::string Session::KeywordsInUse() const {
    // A folder may hold a million keywords: each is looked up in a set, not in a list.
    platform::text::CaseInsensitiveSet seen;
    std::size_t count = 0;
    for (const auto& message : messages_)
        count += message.summary.keywords.size();
    seen.Reserve(count);
    std::string out;
    for (const auto& message : messages_)
        for (const auto& keyword : message.summary.keywords)
            if (seen.Insert(keyword))
                out.append(" ").append(KeywordAtom(keyword));
    return out;
}

Output Session::List(const Command& command, bool subscribedOnly) {
    Output output;
    const auto& args = command.arguments;
    if (args.size() != 2 || !args[0].IsAString() || !args[1].IsAString()) {
        output.bytes =
            Tagged(command.tag, "BAD", command.name + " needs a reference and a pattern");
        return output;
    }
    const auto& verb = subscribedOnly ? "LSUB" : "LIST";
    if (args[1].text.empty()) {
        output.bytes = std::string("* ") + verb + " (\\Noselect) \"/\" \"\"\r\n" +
                       Tagged(command.tag, "OK", command.name + " completed");
        return output;
    }
    auto pattern = args[0].text + args[1].text;
    if (AsciiUpper(pattern.substr(0, 5)) == kInbox)
        pattern = kInbox + pattern.substr(5);
    const auto folders = backend_.Folders();
    for (const auto& path : folders) {
        const auto name = MailboxName(path);
        if (!MatchesPattern(name, pattern))
            continue;
        const bool children = std::any_of(folders.begin(), folders.end(), [&](const auto& other) {
            return other.size() > path.size() && other.starts_with(path) &&
                   other[path.size()] == kDelimiter;
        });
        output.bytes += std::string("* ") + verb + " (" +
                        (children ? "\\HasChildren" : "\\HasNoChildren") + ") \"/\" " +
                        Quote(name) + "\r\n";
    }
    output.bytes += Tagged(command.tag, "OK", command.name + " completed");
    return output;
}

Output Session::Status(const Command& command) {
    Output output;
    const auto& args = command.arguments;
    if (args.size() != 2 || !args[0].IsAString() || !args[1].IsList() || args[1].items.empty()) {
        output.bytes = Tagged(command.tag, "BAD", "STATUS needs a folder name and a list of items");
        return output;
    }
    const auto folder = FolderOf(args[0].text);
    const auto snapshot = folder ? backend_.Open(*folder) : std::nullopt;
    if (!snapshot) {
        output.bytes = Tagged(command.tag, "NO", "[NONEXISTENT] No such folder");
        return output;
    }
    std::string items;
    for (const auto& item : args[1].items) {
        const auto name = AsciiUpper(item.text);
        std::size_t value = 0;
        if (!item.IsAtom()) {
            output.bytes = Tagged(command.tag, "BAD", "STATUS items must be atoms");
            return output;
        }
        if (name == "MESSAGES")
            value = snapshot->messages.size();
        else if (name == "RECENT")
            value = 0;
        else if (name == "UIDNEXT")
            value = snapshot->uidNext;
        else if (name == "UIDVALIDITY")
            value = snapshot->uidValidity;
        else if (name == "UNSEEN")
            value = static_cast<std::size_t>(
                std::count_if(snapshot->messages.begin(), snapshot->messages.end(),
                              [](const auto& m) { return !(m.flags & kSeen); }));
        else {
            output.bytes = Tagged(command.tag, "BAD", "Unknown STATUS item " + item.text);
            return output;
        }
        items += (items.empty() ? "" : " ") + name + " " + std::to_string(value);
    }
    output.bytes = "* STATUS " + Quote(MailboxName(*folder)) + " (" + items + ")\r\n" +
                   Tagged(command.tag, "OK", "STATUS completed");
    return output;
}

bool Session::Resolve(const std::string& text, bool byUid,
                      std::vector<std::size_t>& indexes) const {
    const auto set = SequenceSet::Parse(text);
    if (!set)
        return false;
    const auto largest = byUid ? (messages_.empty() ? 0 : messages_.back().summary.uid)
                               : static_cast<std::uint32_t>(messages_.size());
    for (std::size_t i = 0; i < messages_.size(); ++i) {
        const auto number = byUid ? messages_[i].summary.uid : static_cast<std::uint32_t>(i + 1);
        if (set->Contains(number, largest))
            indexes.push_back(i);
    }
    return true;
}

std::string Session::FetchFlags(std::size_t index, bool withUid) const {
    const auto& summary = messages_[index].summary;
    return "* " + std::to_string(index + 1) + " FETCH (" +
           (withUid ? "UID " + std::to_string(summary.uid) + " " : std::string()) + "FLAGS " +
           FlagList(summary.flags, summary.keywords) + ")\r\n";
}

Output Session::Fetch(const Command& command, std::size_t first, bool byUid) {
    Output output;
    const auto& args = command.arguments;
    if (args.size() != first + 2 || !args[first].IsAtom()) {
        output.bytes = Tagged(command.tag, "BAD", "FETCH needs a sequence set and data items");
        return output;
    }
    auto request = ParseFetchItems(args[first + 1]);
    if (!request.error.empty()) {
        output.bytes = Tagged(command.tag, "BAD", request.error);
        return output;
    }
    if (byUid && std::none_of(request.items.begin(), request.items.end(),
                              [](const auto& item) { return item.kind == FetchItem::Kind::Uid; })) {
        FetchItem uid;
        uid.kind = FetchItem::Kind::Uid;
        uid.label = "UID";
        request.items.insert(request.items.begin(), uid);
    }
    std::vector<std::size_t> indexes;
    if (!Resolve(args[first].text, byUid, indexes)) {
        output.bytes = Tagged(command.tag, "BAD", "Not a sequence set: " + args[first].text);
        return output;
    }
    const bool marksSeen = request.setsSeen && !readOnly_;
    std::string& out = output.bytes;
    bool gone = false;
    for (const auto index : indexes) {
        auto& message = messages_[index];
        std::optional<std::string> whole;
        bool loaded = false;
        const auto load = [&]() -> const std::string* {
            if (!loaded) {
                whole = backend_.Message(folder_, message.summary.uid);
                loaded = true;
            }
            return whole ? &*whole : nullptr;
        };
        bool flagsChanged = false;
        if (marksSeen && !(message.summary.flags & kSeen)) {
            if (backend_.SetFlags(folder_, message.summary.uid, message.summary.flags | kSeen,
                                  message.summary.keywords)) {
                message.summary.flags |= kSeen;
                flagsChanged = true;
            }
        }
        // A message that has just become \Seen says so, even when FLAGS was not asked for.
        const bool addFlags =
            flagsChanged &&
            std::none_of(request.items.begin(), request.items.end(),
                         [](const auto& item) { return item.kind == FetchItem::Kind::Flags; });
        std::vector<FetchItem> withFlags;
        if (addFlags) {
            withFlags = request.items;
            FetchItem flags;
            flags.kind = FetchItem::Kind::Flags;
            flags.label = "FLAGS";
            withFlags.push_back(flags);
        }
        const auto mark = out.size();
        out += "* ";
        out += std::to_string(index + 1);
        out += " FETCH ";
        if (!AppendFetchResponse(out, addFlags ? withFlags : request.items, message.summary,
                                 load)) {
            out.resize(mark);
            gone = true;
            continue;
        }
        out += "\r\n";
    }
    out += gone ? Tagged(command.tag, "NO", "Some of the messages have been removed meanwhile")
                : Tagged(command.tag, "OK", std::string(byUid ? "UID " : "") + "FETCH completed");
    return output;
}

Output Session::Store(const Command& command, std::size_t first, bool byUid) {
    Output output;
    const auto& args = command.arguments;
    if (args.size() < first + 3 || !args[first].IsAtom() || !args[first + 1].IsAtom()) {
        output.bytes = Tagged(command.tag, "BAD", "STORE needs a sequence set, an item and flags");
        return output;
    }
    if (readOnly_) {
        output.bytes = Tagged(command.tag, "NO", "The folder is open read-only (EXAMINE)");
        return output;
    }
    auto item = AsciiUpper(args[first + 1].text);
    const bool silent = item.ends_with(".SILENT");
    if (silent)
        item.resize(item.size() - 7);
    if (item != "FLAGS" && item != "+FLAGS" && item != "-FLAGS") {
        output.bytes = Tagged(command.tag, "BAD", "STORE takes FLAGS, +FLAGS or -FLAGS");
        return output;
    }
    std::vector<const Argument*> flagArgs;
    if (args.size() == first + 3 && args[first + 2].IsList())
        for (const auto& flag : args[first + 2].items)
            flagArgs.push_back(&flag);
    else
        for (std::size_t i = first + 2; i < args.size(); ++i)
            flagArgs.push_back(&args[i]);
    unsigned flags = 0;
    std::vector<std::string> keywords;
    platform::text::CaseInsensitiveSet named; // the keywords of the command, each once
    for (const auto* flag : flagArgs) {
        if (!flag->IsAtom()) {
            output.bytes = Tagged(command.tag, "BAD", "Flags must be atoms");
            return output;
        }
        if (flag->text.starts_with("\\")) {
            if (AsciiUpper(flag->text) == "\\RECENT")
                continue;
            const auto system = SystemFlagNamed(flag->text);
            if (!system) {
                output.bytes = Tagged(command.tag, "BAD", "Unknown system flag " + flag->text);
                return output;
            }
            flags |= *system;
            continue;
        }
        auto keyword = KeywordOfAtom(flag->text);
        if (named.Insert(keyword))
            keywords.push_back(std::move(keyword));
    }
    std::vector<std::size_t> indexes;
    if (!Resolve(args[first].text, byUid, indexes)) {
        output.bytes = Tagged(command.tag, "BAD", "Not a sequence set: " + args[first].text);
        return output;
    }
    bool gone = false;
    for (const auto index : indexes) {
        auto& summary = messages_[index].summary;
        auto newFlags = summary.flags;
        auto newKeywords = summary.keywords;
        if (item == "FLAGS") {
            newFlags = flags;
            newKeywords = keywords;
        } else if (item == "+FLAGS") {
            newFlags |= flags;
            platform::text::CaseInsensitiveSet kept;
            for (const auto& keyword : newKeywords)
                kept.Insert(keyword);
            for (const auto& keyword : keywords)
                if (kept.Insert(keyword))
                    newKeywords.push_back(keyword);
        } else {
            newFlags &= ~flags;
            std::erase_if(newKeywords, [&](const auto& kept) { return named.Contains(kept); });
        }
        if (newFlags != summary.flags || newKeywords != summary.keywords) {
            if (!backend_.SetFlags(folder_, summary.uid, newFlags, newKeywords)) {
                gone = true;
                continue;
            }
            summary.flags = newFlags;
            summary.keywords = newKeywords;
        }
        if (!silent)
            output.bytes += FetchFlags(index, byUid);
    }
    output.bytes +=
        gone ? Tagged(command.tag, "NO", "Some of the messages have been removed meanwhile")
             : Tagged(command.tag, "OK", std::string(byUid ? "UID " : "") + "STORE completed");
    return output;
}

Output Session::Search(const Command& command, std::size_t first, bool byUid) {
    Output output;
    const auto request = ParseSearch(command.arguments, first);
    if (request.badCharset) {
        output.bytes = Tagged(command.tag, "NO", "[BADCHARSET (UTF-8 US-ASCII)] " + request.error);
        return output;
    }
    if (!request.error.empty()) {
        output.bytes = Tagged(command.tag, "BAD", request.error);
        return output;
    }
    std::string result = "* SEARCH";
    const auto largestUid = messages_.empty() ? 0u : messages_.back().summary.uid;
    for (std::size_t i = 0; i < messages_.size(); ++i) {
        const auto& message = messages_[i];
        std::optional<std::string> whole;
        SearchSubject subject;
        subject.number = static_cast<std::uint32_t>(i + 1);
        subject.largestNumber = static_cast<std::uint32_t>(messages_.size());
        subject.largestUid = largestUid;
        subject.recent = message.recent;
        subject.summary = &message.summary;
        subject.message = [&]() -> const std::string& {
            if (!whole)
                whole = backend_.Message(folder_, message.summary.uid).value_or("");
            return *whole;
        };
        if (Matches(request.key, subject))
            result += " " + std::to_string(byUid ? message.summary.uid : i + 1);
    }
    output.bytes = result + "\r\n" +
                   Tagged(command.tag, "OK", std::string(byUid ? "UID " : "") + "SEARCH completed");
    return output;
}

Output Session::Expunge(const std::string& tag, const std::vector<Argument>* uidSet, bool silent) {
    Output output;
    if (readOnly_) {
        output.bytes = Tagged(tag, "NO", "The folder is open read-only (EXAMINE)");
        return output;
    }
    std::vector<std::size_t> indexes;
    if (uidSet) {
        if (uidSet->size() != 1 || !(*uidSet)[0].IsAtom() ||
            !Resolve((*uidSet)[0].text, true, indexes)) {
            output.bytes = Tagged(tag, "BAD", "UID EXPUNGE needs a UID set");
            return output;
        }
    } else {
        for (std::size_t i = 0; i < messages_.size(); ++i)
            indexes.push_back(i);
    }
    std::erase_if(indexes, [&](auto i) { return !(messages_[i].summary.flags & kDeleted); });
    std::vector<std::uint32_t> uids;
    for (const auto i : indexes)
        uids.push_back(messages_[i].summary.uid);
    if (!uids.empty())
        backend_.Remove(folder_, uids);
    // From the last to the first, so that each number is right when the client reads it.
    for (auto i = indexes.rbegin(); i != indexes.rend(); ++i) {
        if (!silent)
            output.bytes += "* " + std::to_string(*i + 1) + " EXPUNGE\r\n";
        messages_.erase(messages_.begin() + static_cast<std::ptrdiff_t>(*i));
    }
    output.bytes += Tagged(tag, "OK", std::string(uidSet ? "UID " : "") + "EXPUNGE completed");
    return output;
}

Output Session::Uid(const Command& command) {
    Output output;
    const auto& args = command.arguments;
    const auto sub = args.empty() || !args[0].IsAtom() ? std::string() : AsciiUpper(args[0].text);
    if (sub == "FETCH")
        return Fetch(command, 1, true);
    if (sub == "STORE")
        return Store(command, 1, true);
    if (sub == "SEARCH")
        return Search(command, 1, true);
    if (sub == "EXPUNGE") {
        const std::vector<Argument> rest(args.begin() + 1, args.end());
        return Expunge(command.tag, &rest, false);
    }
    if (sub == "COPY" || sub == "MOVE") {
        output.bytes = Tagged(command.tag, "NO", "UID " + sub + " is not supported by this server");
        return output;
    }
    output.bytes = Tagged(command.tag, "BAD", "UID takes FETCH, STORE, SEARCH or EXPUNGE");
    return output;
}

Output Session::Idle(const Command& command) {
    Output output;
    if (!command.arguments.empty()) {
        output.bytes = Tagged(command.tag, "BAD", "IDLE takes no arguments");
        return output;
    }
    idle_ = command.tag;
    output.bytes = "+ idling\r\n" + Synchronize();
    return output;
}

Output Session::ContinueIdle(std::string_view line) {
    const auto tag = *idle_;
    idle_.reset();
    Output output;
    if (AsciiUpper(line) != "DONE") {
        output.bytes = Tagged(tag, "BAD", "IDLE ends with DONE");
        return output;
    }
    output.bytes = Synchronize() + Tagged(tag, "OK", "IDLE terminated");
    return output;
}

std::string Session::Synchronize() {
    if (state_ != State::Selected)
        return {};
    const auto snapshot = backend_.Open(folder_);
    if (!snapshot)
        return {};
    std::string out;
    std::map<std::uint32_t, const MessageSummary*> current;
    for (const auto& summary : snapshot->messages)
        current[summary.uid] = &summary;
    for (auto i = messages_.size(); i-- > 0;) {
        if (!current.count(messages_[i].summary.uid)) {
            out += "* " + std::to_string(i + 1) + " EXPUNGE\r\n";
            messages_.erase(messages_.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
    for (std::size_t i = 0; i < messages_.size(); ++i) {
        const auto& now = *current[messages_[i].summary.uid];
        if (now.flags != messages_[i].summary.flags ||
            now.keywords != messages_[i].summary.keywords) {
            messages_[i].summary = now;
            out += FetchFlags(i, false);
        }
    }
    const auto known = messages_.empty() ? 0u : messages_.back().summary.uid;
    std::size_t added = 0;
    for (const auto& summary : snapshot->messages)
        if (summary.uid > known) {
            messages_.push_back({summary, true});
            ++added;
        }
    if (added > 0) {
        out += "* " + std::to_string(messages_.size()) + " EXISTS\r\n";
        const auto recent = std::count_if(messages_.begin(), messages_.end(),
                                          [](const auto& m) { return m.recent; });
        out += "* " + std::to_string(recent) + " RECENT\r\n";
    }
    uidNext_ = snapshot->uidNext;
    return out;
}

} // namespace server::imap
