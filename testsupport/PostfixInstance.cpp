// Writes a private Postfix instance's configuration, starts its master as root and stops it,
// leaving the system's own Postfix alone.

#include "testsupport/PostfixInstance.h"

#include "testsupport/ExhostRunner.h"
#include "testsupport/FileText.h"

#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <set>
#include <stdexcept>
#include <thread>

namespace exhost_test {

namespace fs = std::filesystem;

namespace {

const std::string kPostfix = "/usr/sbin/postfix";
const std::string kSendmail = "/usr/sbin/sendmail";

// master.cf with the services that pickup, queueing, LMTP delivery, bouncing and the log file
// need; no chroot, no listener (an SMTP one is added for a relay host).
const char* kMasterCf = R"(pickup    unix  n       -       n       60      1       pickup
cleanup   unix  n       -       n       -       0       cleanup
qmgr      unix  n       -       n       300     1       qmgr
rewrite   unix  -       -       n       -       -       trivial-rewrite
bounce    unix  -       -       n       -       0       bounce
defer     unix  -       -       n       -       0       bounce
trace     unix  -       -       n       -       0       bounce
verify    unix  -       -       n       -       1       verify
proxymap  unix  -       -       n       -       -       proxymap
scache    unix  -       -       n       -       1       scache
showq     unix  n       -       n       -       -       showq
lmtp      unix  -       -       n       -       -       lmtp
error     unix  -       -       n       -       -       error
retry     unix  -       -       n       -       -       error
discard   unix  -       -       n       -       -       discard
postlog   unix-dgram n  -       n       -       1       postlogd
)";

} // namespace

bool PostfixInstance::CanRun() {
    return geteuid() == 0;
}

std::string PostfixInstance::Version() {
    const auto result = RunProgram({"/usr/sbin/postconf", "-d", "-h", "mail_version"});
    auto version = result.out;
    while (!version.empty() && (version.back() == '\n' || version.back() == '\r'))
        version.pop_back();
    return version;
}

PostfixInstance::PostfixInstance(const std::string& domain, unsigned short lmtpPort,
                                 const std::map<std::string, std::string>& virtualAliases,
                                 unsigned short smtpPort) {
    char pattern[] = "/tmp/lpfXXXXXX";
    if (!mkdtemp(pattern))
        throw std::runtime_error("cannot create a temporary folder");
    folder_ = pattern;
    // Postfix's daemons run as its own user and must reach the queue.
    fs::permissions(folder_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec);
    config_ = folder_ / "etc";
    const auto data = folder_ / "data";
    fs::create_directories(config_);
    fs::create_directories(data);
    fs::create_directories(folder_ / "queue");
    if (const passwd* owner = getpwnam("postfix"))
        if (chown(data.c_str(), owner->pw_uid, owner->pw_gid) != 0)
            throw std::runtime_error("cannot give " + data.string() + " to postfix");
    std::ofstream(config_ / "main.cf")
        << "compatibility_level = 3.6\n"
        << "config_directory = " << config_.string() << "\n"
        << "queue_directory = " << (folder_ / "queue").string() << "\n"
        << "data_directory = " << data.string() << "\n"
        << "maillog_file = " << (folder_ / "maillog").string() << "\n"
        << "maillog_file_prefixes = " << folder_.string() << "\n"
        << "inet_interfaces = loopback-only\n"
        << "inet_protocols = ipv4\n"
        << "myhostname = mta.lorvanta.test\n"
        << "mydestination =\n"
        << "alias_maps =\n"
        << "alias_database =\n"
        << "smtputf8_enable = yes\n"
        << "virtual_mailbox_domains = " << domain << "\n"
        << "virtual_transport = lmtp:inet:127.0.0.1:" << lmtpPort << "\n";
    if (!virtualAliases.empty()) {
        std::set<std::string> domains;
        std::string map, names;
        for (const auto& [from, to] : virtualAliases) {
            map += (map.empty() ? "" : ", ") + from + "=" + to;
            if (const auto at = from.substr(from.find('@') + 1);
                at != domain && domains.insert(at).second)
                names += (names.empty() ? "" : " ") + at;
        }
        std::ofstream(config_ / "main.cf", std::ios::app)
            << "virtual_alias_maps = inline:{ " << map << " }\nvirtual_alias_domains = " << names
            << "\n";
    }
    std::ofstream master(config_ / "master.cf");
    master << kMasterCf;
    if (smtpPort != 0)
        master << "127.0.0.1:" << smtpPort << " inet n - n - - smtpd\n";
    master.close();
    Start();
}

void PostfixInstance::Start() {
    const auto started = RunProgram({kPostfix, "-c", config_.string(), "start"});
    if (started.exitCode != 0) {
        const auto why = started.err + started.out + Log();
        Stop();
        throw std::runtime_error("postfix did not start: " + why);
    }
}

PostfixInstance::~PostfixInstance() {
    Stop();
    if (!std::getenv("LORVANTA_KEEP_FIXTURES")) {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
}

// "postfix stop" only signals the master; its pid is waited for here, and killed if it stays.
void PostfixInstance::Stop() {
    const auto pidText = testsupport::FileText(folder_ / "queue" / "pid" / "master.pid");
    if (pidText.empty())
        return;
    RunProgram({kPostfix, "-c", config_.string(), "stop"});
    const pid_t master = static_cast<pid_t>(std::atol(pidText.c_str()));
    if (master <= 0)
        return;
    for (int i = 0; i < 300 && kill(master, 0) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (kill(master, 0) == 0)
        kill(master, SIGKILL);
}

void PostfixInstance::Submit(const std::string& sender, const std::vector<std::string>& recipients,
                             const std::string& message) const {
    std::vector<std::string> command = {kSendmail, "-C", config_.string(), "-f", sender, "-i"};
    command.insert(command.end(), recipients.begin(), recipients.end());
    const auto result = RunProgram(command, message);
    if (result.exitCode != 0)
        throw std::runtime_error("sendmail failed: " + result.err);
}

std::size_t PostfixInstance::QueuedIn(const char* queue) const {
    std::size_t count = 0;
    std::error_code error;
    for (fs::recursive_directory_iterator it(folder_ / "queue" / queue, error), end;
         !error && it != end; it.increment(error))
        if (it->is_regular_file(error))
            ++count;
    return count;
}

bool PostfixInstance::AwaitQueueDone() const {
    // A guard against a hung delivery, not a measurement.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(3);
    while (std::chrono::steady_clock::now() < deadline) {
        if (QueuedIn("maildrop") + QueuedIn("incoming") + QueuedIn("active") == 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

std::size_t PostfixInstance::Deferred() const {
    return QueuedIn("deferred");
}

std::string PostfixInstance::Log() const {
    return testsupport::FileText(folder_ / "maillog");
}

} // namespace exhost_test
