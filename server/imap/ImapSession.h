#pragma once

// One IMAP session (RFC 3501) as a state machine: bytes from the client go in, the responses
// they call for come out, in order. No sockets: the network layer feeds it whatever arrives and
// writes what comes back. Backend calls (logins, store reads and saves) run on the caller's
// thread.
//
// States: not authenticated (CAPABILITY, NOOP, LOGOUT, LOGIN, AUTHENTICATE; STARTTLS is
// refused), authenticated (folders), selected (messages) and logged out. A failed login asks
// the caller to wait before sending the answer; after a few failures in a row the session ends.

#include "server/imap/ImapBackend.h"
#include "server/imap/ImapCommand.h"
#include "server/imap/ImapInput.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace server::imap {

struct SessionSettings {
    std::string hostName = "localhost";
    InputLimits limits;
    // A failed login is answered only after this pause.
    std::chrono::milliseconds failedLoginDelay = std::chrono::seconds(2);
    // This many failed logins in a row end the session.
    int maxFailedLogins = 3;
};

struct Output {
    std::string bytes;
    // Wait this long before sending the bytes (a failed login).
    std::chrono::milliseconds delay{0};
    // Close the connection once the bytes are sent.
    bool close = false;

    void Append(Output&& more);
};

class Session {
public:
    // The backend must outlive the session.
    Session(Backend& backend, SessionSettings settings);

    std::string Greeting() const;
    // The untagged BYE for a session the server ends on its own (shutting down, idle too long).
    static std::string Bye(std::string_view why);

    // Takes the bytes and answers every command they complete.
    Output Receive(std::string_view bytes);
    // While idling: reports what changed in the selected folder since the last report.
    Output Poll();

    bool Idling() const { return idle_.has_value(); }
    bool Closed() const { return state_ == State::Logout; }

private:
    enum class State { NotAuthenticated, Authenticated, Selected, Logout };

    struct Message {
        MessageSummary summary;
        bool recent = false;
    };

    Output Line(std::string_view line);
    Output Execute(const Command& command);
    Output ContinueAuthentication(std::string_view line);
    Output ContinueIdle(std::string_view line);

    Output Capability(const Command& command);
    Output Login(const Command& command);
    Output Authenticate(const Command& command);
    Output LoginWith(const std::string& tag, const std::string& name, const std::string& password);
    Output Select(const Command& command, bool readOnly);
    Output List(const Command& command, bool subscribedOnly);
    Output Status(const Command& command);
    Output Fetch(const Command& command, std::size_t first, bool byUid);
    Output Store(const Command& command, std::size_t first, bool byUid);
    Output Search(const Command& command, std::size_t first, bool byUid);
    Output Expunge(const std::string& tag, const std::vector<Argument>* uidSet, bool silent);
    Output Uid(const Command& command);
    Output Idle(const Command& command);

    // Reloads the selected folder and reports expunged messages, new ones and changed flags.
    std::string Synchronize();
    // The store's folder path for a mailbox name a client gives ("INBOX" in any case is the
    // Inbox); nothing when no folder has it.
    std::optional<std::string> FolderOf(const std::string& name);
    std::string MailboxName(const std::string& folderPath) const;
    // Indexes into messages_ that a set names; false when it is malformed.
    bool Resolve(const std::string& set, bool byUid, std::vector<std::size_t>& indexes) const;
    std::string FetchFlags(std::size_t index, bool withUid) const;
    std::string KeywordsInUse() const;

    static std::string Tagged(const std::string& tag, std::string_view status,
                              std::string_view text);

    Backend& backend_;
    SessionSettings settings_;
    CommandInput input_;
    State state_ = State::NotAuthenticated;
    int failedLogins_ = 0;
    std::optional<std::string> authenticating_; // tag of an AUTHENTICATE awaiting its response
    std::optional<std::string> idle_;           // tag of the IDLE under way

    std::string folder_; // the selected folder's store path
    bool readOnly_ = false;
    std::uint32_t uidValidity_ = 0;
    std::uint32_t uidNext_ = 0;
    std::vector<Message> messages_;
};

} // namespace server::imap
