#pragma once

// The SMTP backend of the session's, the server's and the failure tests. By how the recipient
// starts: "no" has no mailbox (refused, with a detail for the log only), "busy" cannot be
// looked up now, "down" fails, "throw" and "platform" throw from the lookup, "known" is
// answered without one ("known-throw" throws there); the lookups of "hang" and "known" pass
// the lookup gate. Any other address is accepted. A message starting "Subject: throw" throws
// from the delivery; any other passes the delivery gate, is recorded and gets
// `deliveryVerdict`, or for LMTP `eachVerdicts` when set. Submission: "alice" with the password
// "secret" logs in ("down" fails); senders starting "alice" are hers.

#include "server/smtp/SmtpBackend.h"
#include "server/smtp/SmtpServer.h"

#include "platform/core/Error.h"

#include "RunningServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <stdexcept>

namespace smtptest {

using namespace server::smtp;

// What the failures say: a path and an error text, which only the operator may see.
inline const std::string kSecret = "/srv/lorvanta/store/store.db: disk I/O error";

// What the backends of one test share; the records under `mutex`.
struct Shared {
    servertest::Gate deliveries, lookups;
    std::mutex mutex;
    std::vector<std::string> checked;   // the addresses looked up
    std::vector<std::string> delivered; // the messages
    std::vector<Envelope> envelopes;    // and theirs
    std::vector<Login> logins;          // the passwords checked
    std::atomic<int> knownAnswers = 0;
    Verdict deliveryVerdict = Verdict::Accept("stored");
    std::optional<std::vector<Verdict>> eachVerdicts; // else Deliver's verdict for all

    void OpenGates() {
        deliveries.Set(true);
        lookups.Set(true);
    }
};

class TestBackend : public Backend {
public:
    TestBackend() : TestBackend(own_) {}
    explicit TestBackend(Shared& shared) : shared(shared) {}

    Verdict CheckRecipient(const std::string& address) override {
        Record([&] { shared.checked.push_back(address); });
        if (address.starts_with("hang") || address.starts_with("known"))
            shared.lookups.Pass();
        if (address.starts_with("throw"))
            throw std::runtime_error(kSecret);
        if (address.starts_with("platform"))
            throw platform::Error(platform::hr::E_FAIL, kSecret);
        if (address.starts_with("no"))
            return Verdict::Refuse("5.1.1 No such recipient here: <" + address + ">",
                                   "no mailbox has the address");
        if (address.starts_with("busy"))
            return Verdict::Defer("4.4.3 directory unreachable");
        if (address.starts_with("down"))
            return Verdict::Fail("the directory is down");
        return Verdict::Accept();
    }
    Verdict Authenticate(const Login& login) override {
        Record([&] { shared.logins.push_back(login); });
        if (login.user == "down")
            return Verdict::Fail("the directory is down");
        if (login.user == "alice" && login.password == "secret")
            return Verdict::Accept();
        return Verdict::Refuse("", "wrong password");
    }
    Verdict CheckSender(const std::string& address) override {
        return address.starts_with("alice") ? Verdict::Accept()
                                            : Verdict::Refuse("", "not alice's");
    }
    std::optional<Verdict> KnownRecipient(const std::string& address) override {
        if (address.starts_with("known-throw"))
            throw std::logic_error(kSecret);
        if (!address.starts_with("known"))
            return std::nullopt;
        ++shared.knownAnswers;
        return Verdict::Accept();
    }
    Verdict Deliver(const Envelope& envelope, const std::string& message) override {
        if (message.starts_with("Subject: throw"))
            throw std::runtime_error(kSecret);
        shared.deliveries.Pass();
        Record([&] {
            shared.delivered.push_back(message);
            shared.envelopes.push_back(envelope);
        });
        return shared.deliveryVerdict;
    }
    std::vector<Verdict> DeliverEach(const Envelope& envelope,
                                     const std::string& message) override {
        if (message.starts_with("Subject: throw"))
            throw std::bad_alloc();
        if (!shared.eachVerdicts)
            return Backend::DeliverEach(envelope, message);
        Deliver(envelope, message);
        return *shared.eachVerdicts;
    }

    Shared& shared;

private:
    template <class Change> void Record(Change change) {
        std::lock_guard lock(shared.mutex);
        change();
    }

    Shared own_;
};

inline const std::string kEhlo = "EHLO client.example\r\n";
inline const std::string kLhlo = "LHLO client.example\r\n";
inline const std::string kMail = "MAIL FROM:<sender@partner.example>\r\n";

inline std::vector<int> Codes(const std::vector<Reply>& replies) {
    std::vector<int> codes;
    for (const auto& reply : replies)
        codes.push_back(reply.code);
    return codes;
}

// What a session fed `input` answers, by reply code; a submission session (RequireLogin) when
// `client` is set.
struct SequenceCase {
    const char* name;
    std::string input;
    std::vector<int> codes;
    Protocol protocol = Protocol::Smtp;
    const char* client = nullptr;
};

class SmtpSequence : public ::testing::TestWithParam<SequenceCase> {};

// An SMTP server on loopback whose sessions' backends share `shared`.
struct RunningServer : servertest::RunningServer<Server, Shared> {
    explicit RunningServer(ServerSettings settings = {})
        : servertest::RunningServer<Server, Shared>(std::move(settings), [](Shared& shared) {
              return std::make_unique<TestBackend>(shared);
          }) {}
};

} // namespace smtptest
