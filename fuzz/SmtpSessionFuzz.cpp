// The SMTP session state machine, in SMTP and in LMTP mode.
//
// Input: one byte that seeds how the rest is cut into pieces, when backend questions are answered
// and when replies count as sent, the limits on refused recipients and unsent replies (and whose
// lowest bit picks LMTP), then the bytes a client sends (commands and message data). Every reply
// must be well-formed on the wire; a message may reach the backend only after a 354 and only once
// the stream has held as many CRLF "." CRLF as there were deliveries, and it must hold CRLF line
// ends only. A backend that throws is answered like any failure; the replies given before the
// caller says they were sent stay near the limit; a closed session answers nothing more. With
// STARTTLS offered, what arrives between its 220 and the handshake is neither answered nor kept.
// As a submission session (AUTH PLAIN and LOGIN), nothing is delivered before a login, and no
// login succeeds in clear unless the client is on this machine.

#include "FuzzCheck.h"

#include "server/log/ServerLog.h"
#include "server/smtp/SmtpSession.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace {

using namespace server::smtp;

// Recipients starting with "n" are unknown, with "t" cannot be looked up for now, with "x" make
// the lookup throw; a message whose first byte is "!" is refused, and one whose first byte is "?"
// throws once it is delivered.
class ScriptedBackend : public Backend {
public:
    Verdict CheckRecipient(const std::string& address) override {
        if (!address.empty() && address[0] == 'n')
            return Verdict::Refuse("unknown", "no such mailbox");
        if (!address.empty() && address[0] == 't')
            return Verdict::Defer("try later");
        if (!address.empty() && address[0] == 'x')
            throw std::runtime_error("the directory fell over");
        return Verdict::Accept();
    }
    Verdict Deliver(const Envelope&, const std::string& message) override {
        delivered.push_back(message);
        if (!message.empty() && message[0] == '!')
            return Verdict::Refuse("refused");
        if (!message.empty() && message[0] == '?')
            throw std::runtime_error("the store fell over");
        return Verdict::Accept();
    }
    // Submission: the password "pw" is right for anyone; only senders starting with "a" are
    // the user's.
    Verdict Authenticate(const Login& login) override {
        return login.password == "pw" ? Verdict::Accept()
                                      : Verdict::Refuse("5.7.8 Authentication credentials invalid");
    }
    Verdict CheckSender(const std::string& address) override {
        return !address.empty() && address[0] == 'a' ? Verdict::Accept()
                                                     : Verdict::Refuse("5.7.1 not yours");
    }
    std::vector<std::string> delivered;
};

// CR only before LF, LF only after CR, and CRLF at the end unless empty.
bool IsCrlfText(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            return false;
    }
    return text.empty() || (text.size() >= 2 && text.substr(text.size() - 2) == "\r\n");
}

void CheckReply(const Reply& reply, std::string_view input) {
    const auto wire = reply.Wire();
    fuzz::Check(reply.code >= 200 && reply.code <= 599, "the code is 2xx to 5xx", input, wire);
    std::size_t lines = 0;
    for (std::size_t start = 0; start < wire.size(); ++lines) {
        const auto end = wire.find("\r\n", start);
        fuzz::Check(end != std::string::npos, "every reply line ends with CRLF", input, wire);
        const auto line = std::string_view(wire).substr(start, end - start);
        fuzz::Check(line.size() >= 4 && line.substr(0, 3) == std::to_string(reply.code),
                    "every line starts with the code", input, wire);
        const bool last = end + 2 == wire.size();
        fuzz::Check(line[3] == (last ? ' ' : '-'), "'-' until the last line, then ' '", input,
                    wire);
        fuzz::Check(line.find_first_of("\r\n") == std::string_view::npos,
                    "no CR or LF inside a line", input, wire);
        start = end + 2;
    }
    fuzz::Check(lines >= 1, "a reply has a line", input, wire);
}

std::size_t Count(std::string_view text, std::string_view what) {
    std::size_t count = 0;
    for (auto at = text.find(what); at != std::string_view::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    std::uint32_t random = data[0] * 2654435761u + 1;
    const auto next = [&random] {
        random = random * 1103515245u + 12345u;
        return random >> 16;
    };
    const std::string_view stream(reinterpret_cast<const char*>(data) + 1, size - 1);
    // The session logs refusals and failures: kept for this input only, not written.
    const server::log::Capture quiet;

    Limits limits;
    limits.maxMessageBytes = 300;
    limits.maxCommandLine = 64;
    limits.maxRecipients = 3;
    limits.maxRefusedRecipients = (data[0] >> 1) % 4; // 0: no limit
    limits.maxUnsentReplies = 1 + ((data[0] >> 3) % 4) * 100;
    ScriptedBackend backend;
    Session session("fuzz.example", limits, backend,
                    (data[0] & 1) != 0 ? Protocol::Lmtp : Protocol::Smtp);
    // Bit 5 of the seed offers STARTTLS; the handshake then "succeeds" after a piece or two.
    if ((data[0] & 32) != 0)
        session.OfferTls();
    const bool submission = (data[0] & 64) != 0, inClear = (data[0] & 128) != 0;
    if (submission)
        session.RequireLogin(inClear);
    std::size_t handshake = 0; // pieces until the pretended handshake is done
    CheckReply(session.Greeting(), stream);
    CheckReply(session.ClosingReply(), stream);

    std::size_t fed = 0;
    std::size_t dataReplies = 0;
    std::size_t unsent = 0; // octets of replies given since RepliesSent()
    bool closed = false;
    const auto check = [&](const std::vector<Reply>& replies) {
        fuzz::Check(!closed || replies.empty(), "a closed session answers nothing", stream);
        closed = session.Closed();
        for (const auto& reply : replies) {
            CheckReply(reply, stream);
            dataReplies += reply.code == 354;
            unsent += reply.Wire().size();
        }
        // One step may add its replies (LMTP's one per recipient) to those at the limit.
        fuzz::Check(unsent <= limits.maxUnsentReplies + 1024, "unsent replies stay near the limit",
                    stream);
        const auto seen = stream.substr(0, fed);
        fuzz::Check(backend.delivered.size() <= dataReplies, "a delivery follows a 354", stream);
        fuzz::Check(backend.delivered.size() <= Count(seen, "\r\n.\r\n"),
                    "each delivery needs a CRLF.CRLF of its own", stream);
        for (const auto& message : backend.delivered) {
            fuzz::Check(IsCrlfText(message), "a delivered message has CRLF line ends only", stream,
                        message);
            fuzz::Check(message.size() <= limits.maxMessageBytes,
                        "a delivered message is within the size limit", stream, message);
        }
    };
    // After every step: a submission session delivers only once logged in, and logs in only
    // where the password crossed no network in clear.
    const auto checkLogin = [&] {
        if (!submission)
            return;
        fuzz::Check(backend.delivered.empty() || !session.User().empty(),
                    "nothing is delivered before a login", stream);
        fuzz::Check(session.User().empty() || inClear || session.Encrypted(),
                    "no login in clear from afar", stream);
    };
    while (fed < stream.size()) {
        const auto piece = std::min<std::size_t>(1 + next() % 48, stream.size() - fed);
        const auto bytes = stream.substr(fed, piece);
        fed += piece;
        if (session.StartingTls()) {
            // Sent in clear before the handshake: neither answered nor kept for later.
            fuzz::Check(session.Receive(bytes).empty() && !session.PendingCall(),
                        "nothing is answered between STARTTLS and the handshake", stream);
            if (++handshake % 2 == 0)
                session.TlsStarted();
            continue;
        }
        const auto replies = session.Receive(bytes);
        for (const auto& reply : replies)
            fuzz::Check(!session.Encrypted() || reply.code != 220 || reply.lines.empty() ||
                            reply.lines[0].find("TLS") == std::string::npos,
                        "TLS starts once", stream);
        check(replies);
        checkLogin();
        // Answer now, or only after more input has arrived (as a slow backend would); send the
        // replies now, or let them wait while more input arrives (as a client that does not read
        // makes them wait).
        for (bool more = true; more;) {
            more = false;
            if (session.PendingCall() && (next() % 4 != 0 || fed == stream.size())) {
                check(session.Resume(session.PendingCall()->Run(backend)));
                checkLogin();
                more = true;
            }
            if (next() % 3 != 0 || fed == stream.size()) {
                session.RepliesSent();
                unsent = 0;
                if (session.HoldsInput()) {
                    check(session.Receive({}));
                    more = true;
                }
            }
        }
    }
    return 0;
}
