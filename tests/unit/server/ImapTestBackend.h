#pragma once

// A small IMAP backend for the session's and the server's failure and limit tests: user "u" with
// password "pw-9f2c", an Inbox of messages of one size. Switched to failing, every call throws
// a platform failure whose text names a store path, which no client may ever see. Logins can
// be held at a gate, as on a hung directory.

#include "server/imap/ImapBackend.h"

#include "platform/core/Error.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace imaptest {

using namespace server::imap;

inline constexpr const char* kPassword = "pw-9f2c";
inline constexpr const char* kSecretDetail = "disk I/O error in /srv/exhost/store.db";

// Holds its callers while closed, at most half a minute, so that a server that waits for it
// fails its test instead of hanging it.
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool open = true;
    int waiting = 0;

    void Pass() {
        std::unique_lock lock(mutex);
        ++waiting;
        changed.notify_all();
        changed.wait_for(lock, std::chrono::seconds(30), [&] { return open; });
        --waiting;
        changed.notify_all();
    }
    void Set(bool value) {
        std::lock_guard lock(mutex);
        open = value;
        changed.notify_all();
    }
    int Waiting() {
        std::lock_guard lock(mutex);
        return waiting;
    }
    bool AwaitWaiting(int count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(20), [&] { return waiting >= count; });
    }
};

// What the backends of one test share.
struct Shared {
    std::atomic<bool> failing = false;
    std::atomic<int> messagesRead = 0;
    Gate logins;
};

class TestBackend : public Backend {
public:
    // Each message: a one-line header and a body of `bodySize` octets.
    TestBackend(Shared& shared, int messages = 3, std::size_t bodySize = 200)
        : shared_(shared), body_(bodySize, 'x') {
        inbox_.uidValidity = 7;
        for (int n = 1; n <= messages; ++n) {
            MessageSummary summary;
            summary.uid = static_cast<std::uint32_t>(n);
            summary.header = "Subject: m" + std::to_string(n) + "\r\n\r\n";
            summary.size = summary.header.size() + bodySize;
            inbox_.messages.push_back(summary);
        }
        inbox_.uidNext = static_cast<std::uint32_t>(messages + 1);
    }

    LoginOutcome Login(const std::string& name, const std::string& password) override {
        FailIfAsked();
        shared_.logins.Pass();
        return name == "u" && password == kPassword ? LoginOutcome::Accepted
                                                    : LoginOutcome::Refused;
    }
    std::vector<std::string> Folders() override {
        FailIfAsked();
        return {"Inbox"};
    }
    std::optional<FolderSnapshot> Open(const std::string& folder) override {
        FailIfAsked();
        return folder == "Inbox" ? std::optional(inbox_) : std::nullopt;
    }
    std::optional<std::string> Message(const std::string&, std::uint32_t uid) override {
        FailIfAsked();
        ++shared_.messagesRead;
        return inbox_.messages.at(uid - 1).header + body_;
    }
    bool SetFlags(const std::string&, std::uint32_t uid, unsigned flags,
                  const std::vector<std::string>& keywords) override {
        FailIfAsked();
        inbox_.messages.at(uid - 1).flags = flags;
        inbox_.messages.at(uid - 1).keywords = keywords;
        return true;
    }
    void Remove(const std::string&, const std::vector<std::uint32_t>&) override { FailIfAsked(); }

private:
    void FailIfAsked() {
        if (shared_.failing)
            throw platform::Error(platform::hr::E_FAIL, kSecretDetail);
    }

    Shared& shared_;
    std::string body_;
    FolderSnapshot inbox_;
};

} // namespace imaptest
