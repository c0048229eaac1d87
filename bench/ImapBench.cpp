// The IMAP front as a mail client sees it: 10,000 messages of about 1 KB in one Inbox, each with
// one keyword (every tenth "x"), served by "exhost imap" and measured from Python's imaplib on the
// same machine, the fastest of 5 runs (bench/imap_client_bench.py). Login is the real one: a
// simple bind to the private directory server. The second user's Inbox holds one message whose
// Keywords header names 1,000,000 keywords: how long storing it takes, and its SELECT.
//
// A second server folder, with a server of its own, holds the folder "Large": a message of 20 MB
// (UID 1) and a MIME message whose third part is an attachment of 20 MB (UID 2), for fetches of a
// part of them. They are kept apart because values of megabytes slow down the store's other
// reads (see StoreLargeMessages), which the figures above do not measure.

#include "testsupport/ExhostRunner.h"
#include "testsupport/ScopedServerFolder.h"

#include "platform/core/Text.h"
#include "platform/host/ServerFolder.h"
#include "platform/store/Delivery.h"
#include "platform/store/PropertyNames.h"
#include "platform/store/Store.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr int kMessages = 10000;
constexpr int kKeywords = 1000000;
constexpr const char* kPassword = "bench-password";

// Keywords that differ in case only from earlier ones are dropped: a tenth of them here.
std::string MessageWithKeywords() {
    std::string header = "Keywords: ";
    for (int i = 0; i < kKeywords; ++i) {
        header += (i % 10 == 9 ? "TAG" + std::to_string(i - 9) : "tag" + std::to_string(i));
        header += i + 1 < kKeywords ? (i % 8 == 7 ? ",\r\n " : ", ") : "\r\n";
    }
    return header + "From: sender@partner.example.org\r\nSubject: Tags\r\n\r\nTagged.\r\n";
}

std::string Message(int i) {
    std::string message =
        "From: Sender " + std::to_string(i % 97) + " <sender" + std::to_string(i % 97) +
        "@partner.example.org>\r\nTo: Owner <owner@example.com>\r\n"
        "Subject: Message number " +
        std::to_string(i) + "\r\nDate: Mon, 7 Dec 2026 10:00:00 +0000\r\nMessage-ID: <" +
        std::to_string(i) + "@partner.example.org>\r\n\r\n";
    while (message.size() < 1000)
        message += "Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod.\r\n";
    return message;
}

constexpr std::size_t kLarge = 20 << 20;

std::string LargeHeader(const std::string& subject, const std::string& more = {}) {
    return "From: Sender <sender@partner.example.org>\r\nTo: Owner <owner@example.com>\r\n"
           "Subject: " +
           subject + "\r\nDate: Mon, 7 Dec 2026 10:00:00 +0000\r\n" + more + "\r\n";
}

// Lines of 76 octets (base64's) up to `size` octets.
std::string Lines(std::size_t size) {
    std::string line(76, 'A');
    line += "\r\n";
    std::string text;
    text.reserve(size + line.size());
    while (text.size() < size)
        text += line;
    return text;
}

std::string LargeMessage() {
    return LargeHeader("Large") + Lines(kLarge);
}

std::string LargeMimeMessage() {
    return LargeHeader("Report attached",
                       "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b1\"\r\n") +
           "--b1\r\nContent-Type: text/plain\r\n\r\nThe report is attached.\r\n"
           "--b1\r\nContent-Type: text/html\r\n\r\n<p>The report is attached.</p>\r\n"
           "--b1\r\nContent-Type: application/octet-stream; name=report.bin\r\n"
           "Content-Transfer-Encoding: base64\r\n\r\n" +
           Lines(kLarge) + "--b1--\r\n";
}

// A delivered message of that URL, not saved yet, with the properties the server reads.
platform::store::PendingSave Delivered(platform::store::Store& store, const std::string& url,
                                       const platform::store::ParsedMessage& message) {
    auto save = store.NewItem(store.Locate(url));
    save.delivered = true;
    save.Set(platform::store::kContentClass, platform::Variant(platform::store::kMessageClass));
    save.Set(platform::store::kTransportMessageHeaders, platform::Variant(message.headers));
    save.Set(platform::store::kSubject, platform::Variant(message.subject));
    save.Set(platform::store::kTextDescription, platform::Variant(message.body));
    return save;
}

class BenchServer {
public:
    // The 10,000 messages, or (`large`) only the folder "Large".
    explicit BenchServer(bool large = false) {
        using exhost_test::RunExhost;
        const auto root = folder_.Root();
        for (const auto& arguments : std::vector<std::vector<std::string>>{
                 {"init", "--root", root, "--users", large ? "1" : "2"},
                 {"directory", "start", "--root", root}}) {
            const auto result = RunExhost(arguments);
            if (result.exitCode != 0)
                throw std::runtime_error(result.err);
        }
        const auto store = platform::store::Store::Open(platform::host::ServerFolder(root));
        const auto alias = store->Mailboxes("example.com").at(1); // the first sample user
        user_ = alias;
        taggedUser_ = large ? alias : store->Mailboxes("example.com").at(2);
        for (const auto& user : {user_, taggedUser_}) {
            const auto result =
                RunExhost({"passwd", "--root", root, user}, {}, std::string(kPassword) + "\n");
            if (result.exitCode != 0)
                throw std::runtime_error(result.err);
        }
        const auto inbox =
            store->Locate("file://./backofficestorage/example.com/mbx/" + alias + "/Inbox");
        if (large) {
            StoreLargeMessages(*store, inbox.Url());
            StartImap(root);
            return;
        }
        store->BeginTransaction();
        for (int i = 0; i < kMessages; ++i) {
            auto save = Delivered(*store, inbox.Url() + "/m" + std::to_string(i) + ".EML",
                                  platform::store::ParseMessage(Message(i)));
            save.Set(platform::store::kKeywords,
                     platform::Variant(std::vector<std::string>{
                         i % 10 == 0 ? "x" : "y" + std::to_string(i % 10)}));
            store->Save(save);
        }
        store->CommitTransaction();
        StoreMessageWithKeywords(*store);
        StartImap(root);
    }

    ~BenchServer() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        exhost_test::RunExhost({"directory", "stop", "--root", folder_.Root()});
    }

    // The fastest of five runs of the operation, in seconds, as imaplib measured it; as the
    // user whose Inbox holds the message with a million keywords when `tagged`.
    // Over implicit TLS when `tls`.
    double Measure(const std::string& operation, bool tagged = false, bool tls = false) const {
        return MeasureAll(operation, tagged, tls).at(0);
    }

    // Every figure the operation prints, one a line (see imap_client_bench.py).
    std::vector<double> MeasureAll(const std::string& operation, bool tagged = false,
                                   bool tls = false) const {
        const std::string command =
            "/usr/bin/python3 " LORVANTA_SOURCE_DIR "/bench/imap_client_bench.py " +
            (tls ? "tls:" + std::to_string(tlsPort_) : std::to_string(port_)) + " " +
            (tagged ? taggedUser_ : user_) + " " + kPassword + " " + operation + " 5";
        FILE* pipe = popen(command.c_str(), "r");
        if (!pipe)
            throw std::runtime_error("cannot run " + command);
        std::vector<double> figures;
        char line[64] = {};
        while (std::fgets(line, sizeof line, pipe) != nullptr)
            figures.push_back(std::stod(line));
        if (pclose(pipe) != 0 || figures.empty())
            throw std::runtime_error(command + " failed");
        return figures;
    }

    // Seconds it took to split the message with a million keywords and store it.
    double KeywordsStoreSeconds() const { return keywordsStoreSeconds_; }

private:
    void StoreMessageWithKeywords(platform::store::Store& store) {
        const auto text = MessageWithKeywords();
        const auto start = std::chrono::steady_clock::now();
        const auto message = platform::store::ParseMessage(text);
        auto save = Delivered(
            store, "file://./backofficestorage/example.com/mbx/" + taggedUser_ + "/Inbox/tags.EML",
            message);
        save.Set(platform::store::kKeywords, platform::Variant(message.keywords));
        store.Save(save);
        keywordsStoreSeconds_ =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (message.keywords.size() != static_cast<std::size_t>(kKeywords - kKeywords / 10))
            throw std::runtime_error("the keywords were not split as expected");
    }

    // Each in one property value of 20 MB. While the store's properties table had no row ids,
    // its B-tree kept whole rows, and a search that compared with such a row's key read all of
    // it: in the store of the 10,000 messages, the unmeasured DELETE of a folder of 1,000
    // appended messages took minutes. Hence a folder of their own.
    void StoreLargeMessages(platform::store::Store& store, const std::string& inboxUrl) {
        const auto folder = inboxUrl.substr(0, inboxUrl.rfind('/')) + "/Large";
        store.CreateFolder(folder);
        int n = 0;
        for (const auto& text : {LargeMessage(), LargeMimeMessage()}) {
            auto save = Delivered(store, folder + "/large" + std::to_string(++n) + ".EML",
                                  platform::store::ParseMessage(text));
            store.Save(save);
        }
    }

    void StartImap(const std::string& root) {
        int out[2];
        if (pipe(out) != 0)
            throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::vector<std::string> arguments = {EXHOST_BINARY,  "imap",       "--root",
                                              root,           "--listen",   "127.0.0.1:0",
                                              "--tls-listen", "127.0.0.1:0"};
        const auto argv = platform::text::NullTerminated(arguments);
        if (posix_spawn(&pid_, EXHOST_BINARY, &actions, nullptr, argv.data(), environ) != 0)
            throw std::runtime_error("cannot start exhost imap");
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        // The plain port, then the implicit TLS one.
        std::string lines[2];
        char c;
        for (auto& line : lines)
            while (read(out[0], &c, 1) == 1 && c != '\n')
                line += c;
        close(out[0]);
        port_ = static_cast<unsigned short>(std::stoul(lines[0]));
        tlsPort_ = static_cast<unsigned short>(std::stoul(lines[1]));
    }

    testsupport::ScopedServerFolder folder_;
    std::string user_;
    std::string taggedUser_;
    double keywordsStoreSeconds_ = 0;
    pid_t pid_ = -1;
    unsigned short port_ = 0;
    unsigned short tlsPort_ = 0;
};

BenchServer& Server() {
    static BenchServer server;
    return server;
}

BenchServer& LargeServer() {
    static BenchServer server(true);
    return server;
}

void Run(benchmark::State& state, const std::string& operation, bool tls = false,
         BenchServer& (*server)() = Server) {
    for (auto _ : state)
        state.SetIterationTime(server().Measure(operation, false, tls));
}

void BM_ImapUidFetchAll(benchmark::State& state) {
    Run(state, "fetch-all");
}
void BM_ImapUidSearchKeyword(benchmark::State& state) {
    Run(state, "search");
}
void BM_ImapLoginSelectLogout(benchmark::State& state) {
    Run(state, "login-select");
}
// Goal: within 10 % of the plain text figure.
void BM_ImapUidFetchAllTls(benchmark::State& state) {
    Run(state, "fetch-all", true);
}
void BM_ImapLoginSelectLogoutTls(benchmark::State& state) {
    Run(state, "login-select", true);
}
// A full handshake (no tickets, no resumption) with the greeting; the server is one process.
void BM_ImapTlsHandshake(benchmark::State& state) {
    Run(state, "handshake", true);
    state.counters["handshakes_per_s"] =
        benchmark::Counter(1, benchmark::Counter::kIsIterationInvariantRate);
}

// The same run's envelope fetch beside it: the goal is a ratio, which the machine's load moves
// less than either figure.
void BM_ImapUidFetchAllBodies(benchmark::State& state) {
    for (auto _ : state) {
        const auto figures = Server().MeasureAll("bodies");
        state.SetIterationTime(figures.at(0));
        state.counters["envelopes_ms"] = figures.at(1) * 1e3;
        state.counters["ratio_to_envelopes"] = figures.at(0) / figures.at(1);
    }
}
// A part of the 20 MB message, and the small second part of the MIME message with the 20 MB
// attachment after it: neither should cost the rest of the message.
void BM_ImapFetchPartialOfLarge(benchmark::State& state) {
    Run(state, "partial", false, LargeServer);
}
void BM_ImapFetchSectionOfLarge(benchmark::State& state) {
    Run(state, "section", false, LargeServer);
}
// One APPEND per message, as a mail client saves them.
void BM_ImapAppendThousand(benchmark::State& state) {
    Run(state, "append");
    state.counters["messages_per_s"] =
        benchmark::Counter(1000, benchmark::Counter::kIsIterationInvariantRate);
}
// The messages go back (unmeasured) after each run, so the Inbox keeps its 10,000.
void BM_ImapUidMoveThousand(benchmark::State& state) {
    Run(state, "move");
    state.counters["messages_per_s"] =
        benchmark::Counter(1000, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_StoreMessageWithMillionKeywords(benchmark::State& state) {
    for (auto _ : state)
        state.SetIterationTime(Server().KeywordsStoreSeconds());
}
void BM_ImapSelectMillionKeywords(benchmark::State& state) {
    for (auto _ : state)
        state.SetIterationTime(Server().Measure("select", true));
}

// Each runs once and reports the time it measured itself.
#define ONCE_TIMED(benchmark_function)                                                             \
    BENCHMARK(benchmark_function)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond)

ONCE_TIMED(BM_ImapUidFetchAll);
ONCE_TIMED(BM_ImapUidSearchKeyword);
ONCE_TIMED(BM_ImapLoginSelectLogout);
ONCE_TIMED(BM_ImapUidFetchAllTls);
ONCE_TIMED(BM_ImapLoginSelectLogoutTls);
ONCE_TIMED(BM_ImapTlsHandshake);
ONCE_TIMED(BM_ImapUidFetchAllBodies);
ONCE_TIMED(BM_ImapFetchPartialOfLarge);
ONCE_TIMED(BM_ImapFetchSectionOfLarge);
ONCE_TIMED(BM_ImapAppendThousand);
ONCE_TIMED(BM_ImapUidMoveThousand);
ONCE_TIMED(BM_StoreMessageWithMillionKeywords);
ONCE_TIMED(BM_ImapSelectMillionKeywords);

} // namespace

BENCHMARK_MAIN();
