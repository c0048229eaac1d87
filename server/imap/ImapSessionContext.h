#pragma once

// What one IMAP session knows between commands, for the command handlers (commands/) that read
// and change it: its state, the login under way, the selected folder and its messages as the
// client last heard of them.

#include "server/imap/ImapBackend.h"
#include "server/imap/ImapInput.h"
#include "server/imap/ImapReplies.h"
#include "server/login/Interruption.h"
#include "server/login/LoginThrottle.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace server::imap {

class SequenceSet;

// The input limits of a logged-in session whose largest message is `maxMessage` octets.
constexpr InputLimits LimitsForMessages(std::size_t maxMessage) {
    return {.maxLine = 64 * 1024, .maxLiteral = maxMessage, .maxCommand = maxMessage + 64 * 1024};
}

struct SessionSettings {
    std::string hostName = "localhost";
    // Once logged in: a literal may be an APPENDed message as large as the server takes mail.
    InputLimits limits = LimitsForMessages(10 * 1024 * 1024);
    // Before a login anyone may send: lines and literals small enough for a LOGIN.
    InputLimits loginLimits{.maxLine = 8 * 1024, .maxLiteral = 8 * 1024, .maxCommand = 16 * 1024};
    // A step stops taking further commands once its answer holds this many octets, and a FETCH
    // answers in parts of about this size: the rest waits until the network has sent it.
    std::size_t outputPart = 256 * 1024;
    // A failed login is answered only after this pause.
    std::chrono::milliseconds failedLoginDelay = std::chrono::seconds(2);
    // This many failed logins in a row end the session.
    int maxFailedLogins = 3;
    // Shared by all the server's sessions: a password is checked only when the throttle lets
    // this client's try through. None: at once.
    std::shared_ptr<login::LoginThrottle> loginThrottle;
    // STARTTLS is offered; the session began encrypted (implicit TLS); a password may be sent
    // without TLS (a client on loopback or a unix socket). Without either, LOGINDISABLED.
    bool tlsOffered = false;
    bool encrypted = false;
    bool loginInClear = true;
};

// RFC 3501's states of a session.
enum class SessionState { NotAuthenticated, Authenticated, Selected, Logout };

struct SelectedMessage {
    MessageSummary summary;
    bool recent = false;
};

// A command whose answer comes in parts (a FETCH of many large messages): its tag, and what
// writes the next part, which sets `unfinished` again when more is to come.
struct UnfinishedCommand {
    std::string tag;
    std::string name;
    std::function<Output()> next;
};

struct SessionContext {
    // The backend must outlive the context. `id` names the session in the log.
    SessionContext(Backend& backend, SessionSettings settings, std::string client, std::string id)
        : backend(backend), settings(std::move(settings)), client(std::move(client)),
          id(std::move(id)) {}

    Backend& backend;
    SessionSettings settings;
    const std::string client; // its IP address, or "local" for a unix socket's
    const std::string id;
    SessionState state = SessionState::NotAuthenticated;
    std::string user; // the name the client logged in with
    int failedLogins = 0;
    // A login waiting for its turn; cut short when the connection closes or the server stops.
    login::Interruption loginWait;
    std::optional<std::string> authenticating;   // tag of an AUTHENTICATE awaiting its response
    std::optional<std::string> idle;             // tag of the IDLE under way
    std::optional<UnfinishedCommand> unfinished; // runs before any further command
    bool encrypted = false;                      // TLS is up (from the start, or after STARTTLS)
    // RFC 7162's CONDSTORE is enabled (ENABLE, or a command that uses it): flags are reported
    // with their MODSEQ from now on.
    bool condstore = false;
    // QRESYNC is enabled (ENABLE only; it enables CONDSTORE too): expunges are reported as
    // VANISHED with their UIDs, and SELECT takes the QRESYNC parameter.
    bool qresync = false;

    std::string folder; // the selected folder's store path
    bool readOnly = false;
    std::uint32_t uidValidity = 0;
    std::uint32_t uidNext = 0;
    std::vector<SelectedMessage> messages; // by sequence number - 1

    // Reloads the selected folder and reports expunged messages, new ones and changed flags.
    // New messages are \Recent here when this session is the first to learn of them (and has
    // the folder read-write: EXAMINE takes nothing).
    std::string Synchronize();
    // The lowest UID of the messages \Recent in this session, of those below `uidNext`: taken
    // from the backend when the folder is open read-write, only looked at when read-only.
    std::uint32_t TakeRecent(std::uint32_t uidNext);
    // The store's folder path for a mailbox name a client gives ("INBOX" in any case is the
    // Inbox); nothing when no folder has it.
    std::optional<std::string> FolderOf(const std::string& name);
    // Indexes into `messages` that a set names; false when it is malformed.
    bool Resolve(const std::string& set, bool byUid, std::vector<std::size_t>& indexes) const;
    // Takes the messages at `ascending` indexes out of the numbering in one pass (a MOVE of
    // thousands must not shift the rest once per message) and reports them: EXPUNGE lines from
    // the last to the first so that each number is right when the client reads it, or once
    // QRESYNC is enabled one VANISHED line with their UIDs.
    std::string Expunge(const std::vector<std::size_t>& ascending, bool report = true);
    // "* VANISHED (EARLIER) ..." of the UIDs of `uids` ("*" the highest here) below UIDNEXT and
    // above `above` that no message here has; nothing when there are none. The store keeps no
    // removed UIDs, so these are all such UIDs, also those no message ever had, as RFC 7162
    // lets a server that remembers no expunges answer.
    std::string VanishedEarlier(const SequenceSet& uids, std::uint32_t above = 0) const;
    // "* 3 FETCH (FLAGS (...))", with the UID when asked; once CONDSTORE is enabled always with
    // the UID and MODSEQ (RFC 7162: the client must tell which message changed, and when).
    // Without `withFlags` only those two (a silent STORE's answer under CONDSTORE).
    std::string FetchFlags(std::size_t index, bool withUid, bool withFlags = true) const;
    // Leaves the selected folder.
    void Deselect();
    // A password may be sent now.
    bool LoginAllowed() const { return encrypted || settings.loginInClear; }
    // What CAPABILITY lists in the session's state.
    std::string Capabilities() const;
};

inline constexpr const char* kInbox = "INBOX";
inline constexpr char kDelimiter = '/';

// How a client sees a store folder path: "INBOX" for the Inbox, modified UTF-7.
std::string MailboxName(const std::string& folderPath);
// The reverse, for a folder that need not exist yet: nothing for a name no folder may have
// (empty steps, not modified UTF-7).
std::optional<std::string> PathOfMailboxName(const std::string& name);
// A name as subscriptions keep it: "INBOX" in any letter case as its first step is "INBOX".
std::string CanonicalMailboxName(const std::string& name);

} // namespace server::imap
