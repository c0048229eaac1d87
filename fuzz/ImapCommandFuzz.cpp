// The IMAP command input, parser and session.
//
// Input: one byte that seeds how the rest is cut into pieces, then the bytes a client sends.
// Cutting must not change the commands that come out; every command stays within the limits;
// the session's output must be well-formed: lines ending in CRLF, each untagged ("* "), a
// continuation ("+ ") or tagged (tag, then OK, NO or BAD), literals holding exactly the octets
// they announce.

#include "FuzzCheck.h"

#include "server/imap/ImapCommand.h"
#include "server/imap/ImapInput.h"
#include "server/imap/ImapSession.h"
#include "server/imap/ImapWire.h"

#include "platform/core/Text.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

using namespace server::imap;

// One user "u" with password "p", an Inbox of two messages (one multipart), a subfolder and a
// Sent folder; folder commands, saves, copies and removals change them as a store would.
class SmallBackend : public Backend {
public:
    SmallBackend() {
        Add("Inbox", "From: A <a@x>\r\nTo: b@y, g: c@z;\r\nSubject: s\r\n\r\n", "body\r\n");
        folders["Inbox"].uidNext = 4;
        Add("Inbox", "Content-Type: multipart/mixed; boundary=b\r\n\r\n",
            "--b\r\nContent-Type: message/rfc822\r\n\r\nSubject: i\r\n\r\nx\r\n--b--\r\n");
    }
    // Adds a message under the folder's next UID and returns that.
    std::uint32_t Add(const std::string& path, std::string header, std::string body) {
        auto& folder = folders[path];
        MessageSummary summary;
        summary.uid = folder.uidNext++;
        summary.keywords = {"k@x", "a b"};
        summary.header = std::make_shared<const std::string>(header);
        summary.size = header.size() + body.size();
        folder.messages.push_back(summary);
        texts[{path, summary.uid}] = header + body;
        return summary.uid;
    }
    LoginAnswer Login(const std::string& name, const std::string& password) override {
        return {name == "u" && password == "p" ? LoginOutcome::Accepted : LoginOutcome::Refused,
                name == "u" ? "u" : ""};
    }
    std::vector<FolderEntry> Folders() override {
        std::vector<FolderEntry> entries;
        for (const auto& [path, folder] : folders)
            entries.push_back({path, path == "Sent" ? "\\Sent" : ""});
        return entries;
    }
    std::optional<std::string> FolderPath(const std::string& path) override {
        for (const auto& [name, folder] : folders)
            if (platform::text::EqualsIgnoreCase(name, path))
                return name;
        return std::nullopt;
    }
    FolderOutcome CreateFolder(const std::string& path) override {
        if (folders.size() >= 50)
            throw std::runtime_error("no room"); // a store failure, answered NO
        return folders.emplace(path, FolderSnapshot{2, 1, {}}).second
                   ? FolderOutcome::Done
                   : FolderOutcome::AlreadyExists;
    }
    FolderOutcome DeleteFolder(const std::string& path) override {
        return folders.erase(path) ? FolderOutcome::Done : FolderOutcome::NoSuchFolder;
    }
    FolderOutcome RenameFolder(const std::string& from, const std::string& to) override {
        if (!folders.count(from))
            return FolderOutcome::NoSuchFolder;
        if (folders.count(to))
            return FolderOutcome::AlreadyExists;
        folders[to] = std::exchange(folders[from], FolderSnapshot{1, 5, {}});
        if (from != "Inbox")
            folders.erase(from);
        return FolderOutcome::Done;
    }
    std::vector<std::string> Subscriptions() override {
        return {subscribed.begin(), subscribed.end()};
    }
    void SetSubscribed(const std::string& name, bool on) override {
        if (on)
            subscribed.insert(name);
        else
            subscribed.erase(name);
    }
    std::shared_ptr<const FolderSnapshot> Open(const std::string& folder) override {
        auto found = folders.find(folder);
        if (found == folders.end())
            return nullptr;
        return std::make_shared<const FolderSnapshot>(found->second);
    }
    std::optional<std::string> Message(const std::string& folder, std::uint32_t uid) override {
        auto found = texts.find({folder, uid});
        return found == texts.end() ? std::nullopt : std::optional<std::string>(found->second);
    }
    std::vector<std::optional<std::string>>
    Messages(const std::string& folder, const std::vector<std::uint32_t>& uids) override {
        std::vector<std::optional<std::string>> messages;
        for (const auto uid : uids)
            messages.push_back(Message(folder, uid));
        return messages;
    }
    std::optional<std::string> MessageRange(const std::string& folder, std::uint32_t uid,
                                            std::uint64_t offset, std::uint64_t count) override {
        auto whole = Message(folder, uid);
        if (whole)
            whole = offset < whole->size() ? whole->substr(offset, count) : std::string();
        return whole;
    }
    FlagSave SaveFlags(const std::string& folder, std::uint32_t uid, unsigned flags,
                       const std::vector<std::string>& keywords,
                       std::optional<std::uint64_t> unchangedSince) override {
        auto& snapshot = folders[folder];
        for (auto& summary : snapshot.messages)
            if (summary.uid == uid) {
                if (unchangedSince && summary.modseq > *unchangedSince)
                    return {FlagSave::Outcome::Modified, 0};
                summary.flags = flags;
                summary.keywords = keywords;
                summary.modseq = ++snapshot.highestModseq;
                return {FlagSave::Outcome::Saved, summary.modseq};
            }
        return {};
    }
    std::uint32_t RecentFrom(const std::string& folder, std::uint32_t uidNext, bool take) override {
        auto& from = recentFrom.try_emplace(folder, 1).first->second;
        const auto first = std::min(from, uidNext);
        if (take)
            from = std::max(from, uidNext);
        return first;
    }
    void Remove(const std::string& folder, const std::vector<std::uint32_t>& uids) override {
        for (auto uid : uids)
            std::erase_if(folders[folder].messages, [&](const auto& m) { return m.uid == uid; });
    }
    std::optional<SavedMessages> Append(const std::string& folder,
                                        const std::vector<NewMessage>& messages) override {
        auto found = folders.find(folder);
        if (found == folders.end())
            return std::nullopt;
        SavedMessages saved{found->second.uidValidity, {}, {}};
        for (const auto& message : messages)
            saved.uids.push_back(Add(folder, std::string(message.bytes), ""));
        return saved;
    }
    std::optional<SavedMessages> Copy(const std::string& from,
                                      const std::vector<std::uint32_t>& uids,
                                      const std::string& to) override {
        auto target = folders.find(to);
        if (target == folders.end())
            return std::nullopt;
        SavedMessages saved{target->second.uidValidity, {}, {}};
        const auto source = folders[from].messages;
        for (const auto& message : source)
            if (std::find(uids.begin(), uids.end(), message.uid) != uids.end()) {
                saved.sources.push_back(message.uid);
                saved.uids.push_back(
                    Add(to, *message.header,
                        texts[{from, message.uid}].substr(message.header->size())));
            }
        return saved;
    }
    std::map<std::string, FolderSnapshot> folders{
        {"Inbox", {1, 1, {}}}, {"Inbox/a", {3, 1, {}}}, {"Sent", {4, 1, {}}}};
    std::set<std::string> subscribed;
    std::map<std::pair<std::string, std::uint32_t>, std::string> texts;
    std::map<std::string, std::uint32_t> recentFrom; // the first UID no session has taken
};

constexpr InputLimits kLimits{.maxLine = 200, .maxLiteral = 100, .maxCommand = 400};

std::vector<std::string> Commands(std::string_view stream, std::uint32_t seed, bool cut) {
    CommandInput input(kLimits);
    std::vector<std::string> events;
    std::uint32_t random = seed;
    for (std::size_t fed = 0; fed < stream.size();) {
        random = random * 1103515245u + 12345u;
        const auto piece = cut ? std::min<std::size_t>(1 + (random >> 16) % 32, stream.size() - fed)
                               : stream.size();
        input.Append(stream.substr(fed, piece));
        fed += piece;
        while (auto event = input.Next()) {
            events.push_back(std::to_string(static_cast<int>(event->kind)) + ":" + event->text);
            if (event->kind == InputEvent::Kind::Command)
                fuzz::Check(event->text.size() <= kLimits.maxCommand,
                            "a command stays within the limit", stream, event->text);
        }
    }
    return events;
}

void CheckOutput(std::string_view wire, std::string_view input) {
    std::size_t at = 0;
    while (at < wire.size()) {
        const auto end = wire.find("\r\n", at);
        fuzz::Check(end != std::string_view::npos, "every line ends with CRLF", input, wire);
        auto line = wire.substr(at, end - at);
        fuzz::Check(line.find_first_of("\r\n") == std::string_view::npos, "no bare CR or LF", input,
                    wire);
        at = end + 2;
        if (line.starts_with("* ") || line.starts_with("+ ")) {
        } else {
            const auto space = line.find(' ');
            fuzz::Check(space != std::string_view::npos && space > 0, "a tagged line has a tag",
                        input, wire);
            const auto status = line.substr(space + 1);
            fuzz::Check(status.starts_with("OK ") || status.starts_with("NO ") ||
                            status.starts_with("BAD "),
                        "a tagged line says OK, NO or BAD", input, wire);
        }
        // A literal at the end of a line: its octets follow, then the line goes on.
        while (line.ends_with("}") && line.rfind('{') != std::string_view::npos) {
            const auto mark = FindLiteralMark(line.substr(line.rfind('{')));
            if (!mark)
                break;
            fuzz::Check(at + mark->size <= wire.size(), "a literal is complete", input, wire);
            at += mark->size;
            const auto next = wire.find("\r\n", at);
            fuzz::Check(next != std::string_view::npos, "the line after a literal ends", input,
                        wire);
            line = wire.substr(at, next - at);
            at = next + 2;
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const std::uint32_t seed = data[0] * 2654435761u + 1;
    const std::string_view stream(reinterpret_cast<const char*>(data) + 1, size - 1);

    const auto whole = Commands(stream, seed, false);
    fuzz::Check(Commands(stream, seed, true) == whole, "cutting the input changes nothing", stream);
    for (const auto& event : whole) {
        const auto text = std::string_view(event).substr(event.find(':') + 1);
        const auto parsed = ParseCommand(text);
        if (parsed.error.empty()) {
            fuzz::Check(!parsed.command.tag.empty() && parsed.command.tag == TagOf(text),
                        "a command's tag is the tag TagOf reads", text, parsed.command.tag);
            fuzz::Check(parsed.command.name == AsciiUpper(parsed.command.name),
                        "command names are upper case", text, parsed.command.name);
        }
    }

    SmallBackend backend;
    SessionSettings settings;
    settings.limits = settings.loginLimits = kLimits;
    settings.outputPart = 64; // answers in many parts
    // The seed also says whether STARTTLS is offered and whether a password may come in clear.
    settings.tlsOffered = (data[0] & 1) != 0;
    settings.loginInClear = (data[0] & 2) != 0;
    Session session(backend, settings);
    std::string wire = session.Greeting();
    std::uint32_t random = seed;
    bool encrypted = false;
    for (std::size_t fed = 0; fed < stream.size() && !session.Closed();) {
        random = random * 1103515245u + 12345u;
        const auto piece = std::min<std::size_t>(1 + (random >> 16) % 64, stream.size() - fed);
        auto output = session.Receive(stream.substr(fed, piece));
        fed += piece;
        wire += output.bytes;
        if (output.startTls) {
            fuzz::Check(settings.tlsOffered && !encrypted, "STARTTLS only when offered, once",
                        stream, output.bytes);
            fuzz::Check(!output.pending, "what came behind STARTTLS is dropped", stream);
            encrypted = true;
        }
        fuzz::Check(encrypted || settings.loginInClear ||
                        output.bytes.find(" OK [CAPABILITY") == std::string::npos,
                    "no login in clear where passwords must not cross the network", stream,
                    output.bytes);
        // What the session holds is answered before more input, as the server does.
        while (output.pending) {
            output = session.Receive({});
            wire += output.bytes;
        }
        fuzz::Check(output.idling == session.Idling() && output.close == session.Closed(),
                    "the output tells the session's state", stream);
        if (session.Idling())
            wire += session.Poll().bytes;
    }
    CheckOutput(wire, stream);
    return 0;
}
