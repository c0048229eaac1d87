// Writes the private slapd's configuration and schema into the server folder, starts it on its
// private socket, waits until it answers, and stops it.

#include "platform/directory/DirectoryServer.h"

#include "platform/core/Error.h"
#include "platform/core/Text.h"
#include "platform/directory/DirectoryPath.h"
#include "platform/directory/LdapConnection.h"
#include "platform/directory/LdifText.h"
#include "platform/directory/ServerProcess.h"
#include "platform/host/FileUpdate.h"
#include "platform/host/PrivateFiles.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>
#include <thread>
#include <vector>

extern char** environ;

namespace platform::directory {

namespace fs = std::filesystem;

namespace {

constexpr std::int32_t ERROR_SERVICE_ALREADY_RUNNING = hr::Code(0x80070420);
constexpr std::int32_t ERROR_SERVICE_REQUEST_TIMEOUT = hr::Code(0x8007041D);
constexpr std::int32_t E_ACCESSDENIED = hr::Code(0x80070005);
// A socket address holds 108 bytes; slapd fails on paths near that.
constexpr std::size_t kMaxSocketPath = 100;
constexpr auto kStartTimeout = std::chrono::seconds(15);
constexpr auto kStopTimeout = std::chrono::seconds(15);
constexpr auto kPollInterval = std::chrono::milliseconds(20);

std::string ReadFileText(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Configuration, schema, root DSE and pid file: the folder's owner alone reads and writes them.
void WriteFileText(const fs::path& path, const std::string& text) {
    host::ReplaceFileContent(path, text, host::kPrivateFileMode,
                             [](const std::string& what, const fs::path& file, int error) {
                                 throw Error(hr::E_FAIL, "Cannot " + what + " " + file.string() +
                                                             ": " + std::strerror(error));
                             });
}

void CreateFolder(const fs::path& folder) {
    std::error_code error;
    host::CreatePrivateFolder(folder, error);
    if (error)
        throw Error(hr::E_FAIL, "Cannot create the directory server's folder " + folder.string() +
                                    ": " + error.message());
}

// A folder under /tmp for the socket: created private, or taken over only when it is a real
// folder of this user (anyone may create names in /tmp, so that must be checked).
void CreateOwnTmpFolder(const fs::path& folder) {
    if (::mkdir(folder.c_str(), host::kPrivateFolderMode) != 0 && errno != EEXIST)
        throw Error(hr::E_FAIL, "Cannot create " + folder.string() + ": " + std::strerror(errno));
    struct stat status {};
    if (::lstat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) ||
        status.st_uid != ::getuid())
        throw Error(E_ACCESSDENIED, folder.string() +
                                        " is not a folder of this user: the directory "
                                        "server's socket cannot be kept private there");
    if (::chmod(folder.c_str(), host::kPrivateFolderMode) != 0)
        throw Error(hr::E_FAIL,
                    "Cannot make " + folder.string() + " private: " + std::strerror(errno));
}

// The tail of a log, for failure descriptions.
std::string LogTail(const fs::path& log) {
    auto text = ReadFileText(log);
    if (text.size() > 800)
        text = "..." + text.substr(text.size() - 800);
    return text;
}

std::string PercentEncode(const std::string& path) {
    static const char* hex = "0123456789ABCDEF";
    std::string encoded;
    for (unsigned char c : path) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            encoded += static_cast<char>(c);
        } else {
            encoded += '%';
            encoded += hex[c >> 4];
            encoded += hex[c & 0xF];
        }
    }
    return encoded;
}

std::string Fnv1aHex(const std::string& text) {
    std::uint64_t hash = 1469598103934665603ULL;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ULL;
    }
    char buffer[17];
    std::snprintf(buffer, sizeof buffer, "%016llx", static_cast<unsigned long long>(hash));
    return buffer;
}

bool ProcessExists(pid_t pid) {
    // Reap it first if it is our own child that has ended.
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid)
        return false;
    return kill(pid, 0) == 0 || errno == EPERM;
}

// Starts a program (looked up in PATH unless the name has a "/") with nothing on its standard
// input and its output and errors appended to `log`.
pid_t Spawn(std::vector<std::string> arguments, const fs::path& log) {
    const auto argv = text::NullTerminated(arguments);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, host::kPrivateFileMode);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        throw Error(hr::E_FAIL, "Cannot run " + arguments[0] + ": " + std::strerror(rc));
    return pid;
}

// Runs a program and waits for it; its output goes to `log`. Returns the exit status.
int RunAndWait(const std::vector<std::string>& arguments, const fs::path& log) {
    const pid_t pid = Spawn(arguments, log);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// slapd lives in sbin, which a non-root PATH may lack.
std::string ProgramPath(const char* name) {
    for (const char* folder : {"/usr/sbin/", "/usr/local/sbin/", "/sbin/"}) {
        const std::string path = std::string(folder) + name;
        if (access(path.c_str(), X_OK) == 0)
            return path;
    }
    return name;
}

} // namespace

DirectoryServer::DirectoryServer(DirectoryServerSettings settings)
    : settings_(std::move(settings)) {
    settings_.folder = fs::absolute(settings_.folder).lexically_normal();
}

fs::path DirectoryServer::SocketPath() const {
    auto inside = settings_.folder / "ldapi";
    if (inside.string().size() <= kMaxSocketPath)
        return inside;
    return fs::path("/tmp") / ("lorvanta-ldapi-" + Fnv1aHex(settings_.folder.string())) / "ldapi";
}

std::string DirectoryServer::Uri() const {
    return "ldapi://" + PercentEncode(SocketPath().string());
}

fs::path DirectoryServer::PidFile() const {
    return settings_.folder / "slapd.pid";
}

fs::path DirectoryServer::LogFile() const {
    return settings_.folder / "slapd.log";
}

fs::path DirectoryServer::ConfigFile() const {
    return settings_.folder / "slapd.conf";
}

void DirectoryServer::WriteConfiguration() const {
    const auto& folder = settings_.folder;
    CreateFolder(folder);
    CreateFolder(folder / "data");
    const auto forestDn = DnsNameToDn(settings_.forestDnsName);
    if (forestDn.empty())
        throw Error(hr::E_INVALIDARG, "The directory server needs a forest DNS name");

    WriteFileText(folder / "ad.schema", ActiveDirectorySchemaText());

    std::string rootDse;
    AppendLdifLine(rootDse, "dn", "");
    AppendLdifLine(rootDse, "dNSHostName", settings_.hostName);
    AppendLdifLine(rootDse, "defaultNamingContext", forestDn);
    AppendLdifLine(rootDse, "rootDomainNamingContext", forestDn);
    AppendLdifLine(rootDse, "schemaNamingContext", "CN=Schema,CN=Configuration," + forestDn);
    WriteFileText(folder / "rootdse.ldif", rootDse);

    const std::string sizeLimit =
        settings_.unpagedSizeLimit > 0 ? std::to_string(settings_.unpagedSizeLimit) : "unlimited";
    // The folder's owner as slapd sees a peer on the socket.
    const std::string owner = "dn.exact=\"gidNumber=" + std::to_string(getgid()) +
                              "+uidNumber=" + std::to_string(getuid()) +
                              ",cn=peercred,cn=external,cn=auth\"";
    std::ostringstream config;
    config << "# The private directory server of this server folder.\n"
           << "include /etc/ldap/schema/core.schema\n"
           << "include /etc/ldap/schema/cosine.schema\n"
           << "include /etc/ldap/schema/inetorgperson.schema\n"
           << "include \"" << (folder / "ad.schema").string()
           << "\"\n"
           // No per-operation statistics: without a syslog daemon every line would still be
           // formatted and a socket tried, several times per lookup.
           << "loglevel 0\n"
           << "modulepath /usr/lib/ldap\n"
           << "moduleload back_mdb\n"
           // Must follow the schema that defines its attributes, or they are dropped silently.
           << "rootDSE \"" << (folder / "rootdse.ldif").string()
           << "\"\n"
           // Unpaged searches are capped like AD's; paged ones may return everything.
           << "sizelimit size.soft=" << sizeLimit << " size.hard=" << sizeLimit
           << " size.prtotal=unlimited\n"
           // Anyone may read the root DSE, to find the server, and bind; nothing else, not even
           // the schema (these two entries lie outside the database, so they need rules here).
           << "access to dn.base=\"\" by * read\n"
           << "access to dn.base=\"cn=Subschema\" by " << owner << " read by * none\n"
           << "database mdb\n"
           << "maxsize 1073741824\n"
           << "suffix \"" << forestDn
           << "\"\n"
           // Whoever owns the folder may write over the local socket. Not as the root DN, which
           // no limit would bind: clients must meet the same limits as on AD.
           << "access to * by " << owner << " manage by anonymous auth by * none\n"
           << "directory \"" << (folder / "data").string() << "\"\n"
           << "dbnosync\n"
           << "index objectClass eq\n"
           << "index mail eq,sub\n"
           << "index proxyAddresses eq,sub\n"
           << "index mailNickname eq\n"
           << "index objectCategory eq\n"
           << "index sAMAccountName eq\n"
           << "index msExchMailboxGuid pres\n"
           << "index cn eq\n";
    WriteFileText(ConfigFile(), config.str());
}

void DirectoryServer::Load(const fs::path& ldifFile) const {
    if (RunningPid())
        throw Error(ERROR_SERVICE_ALREADY_RUNNING, "Cannot bulk-load the directory in " +
                                                       settings_.folder.string() +
                                                       " while its server runs");
    const auto log = settings_.folder / "slapadd.log";
    fs::remove(log);
    const int status = RunAndWait(
        {ProgramPath("slapadd"), "-q", "-f", ConfigFile().string(), "-l", ldifFile.string()}, log);
    if (status != 0)
        throw Error(hr::E_FAIL,
                    "Loading " + ldifFile.string() + " into the directory failed: " + LogTail(log));
}

void DirectoryServer::Add(const fs::path& ldifFile) const {
    if (!RunningPid())
        throw Error(hr::ERROR_DS_SERVER_DOWN, "Cannot add " + ldifFile.string() +
                                                  ": the directory server of " +
                                                  settings_.folder.string() + " is not running");
    const auto log = settings_.folder / "ldapadd.log";
    fs::remove(log);
    const int status =
        RunAndWait({"ldapadd", "-Q", "-Y", "EXTERNAL", "-H", Uri(), "-f", ldifFile.string()}, log);
    if (status != 0)
        throw Error(hr::E_FAIL,
                    "Adding " + ldifFile.string() + " to the directory failed: " + LogTail(log));
}

std::optional<ServerProcess> DirectoryServer::FindProcess(std::string& why) const {
    std::ifstream in(PidFile());
    if (!in)
        return std::nullopt;
    long pid = 0;
    if (!(in >> pid) || pid <= 0 || pid > std::numeric_limits<pid_t>::max()) {
        why = "the pid file " + PidFile().string() + " names no process";
        return std::nullopt;
    }
    return ServerProcess::Find(static_cast<pid_t>(pid), ProgramPath("slapd"), ConfigFile(), why);
}

DirectoryServerState DirectoryServer::State() const {
    DirectoryServerState state;
    if (const auto process = FindProcess(state.why))
        state.pid = process->Pid();
    return state;
}

std::optional<pid_t> DirectoryServer::RunningPid() const {
    return State().pid;
}

void DirectoryServer::Start() {
    if (const auto pid = RunningPid())
        throw Error(ERROR_SERVICE_ALREADY_RUNNING,
                    "The directory server of " + settings_.folder.string() + " already runs (pid " +
                        std::to_string(*pid) + ")");
    // slapd makes its socket 0777 (this build ignores the x-mod extension), so the socket lies
    // in a private folder, and is made the owner's alone as soon as it answers.
    const auto socketFolder = SocketPath().parent_path();
    if (socketFolder == settings_.folder)
        CreateFolder(socketFolder);
    else
        CreateOwnTmpFolder(socketFolder);
    fs::remove(SocketPath());
    fs::remove(LogFile());
    const pid_t pid = Spawn(
        {ProgramPath("slapd"), "-f", ConfigFile().string(), "-h", Uri(), "-d", "none"}, LogFile());
    WriteFileText(PidFile(), std::to_string(pid) + "\n");

    const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
    for (;;) {
        if (!ProcessExists(pid)) {
            fs::remove(PidFile());
            throw Error(hr::ERROR_DS_SERVER_DOWN, "The directory server of " +
                                                      settings_.folder.string() +
                                                      " ended at start-up: " + LogTail(LogFile()));
        }
        bool answered = false;
        try {
            LdapConnection probe(Uri());
            answered = probe.ReadEntry("", {"namingContexts"}).has_value();
        } catch (const Error&) {
            // Not listening yet.
        }
        if (answered) {
            if (::chmod(SocketPath().c_str(), host::kPrivateFolderMode) == 0)
                return;
            const int error = errno;
            Stop();
            throw Error(hr::E_FAIL, "Cannot make the directory server's socket " +
                                        SocketPath().string() +
                                        " private: " + std::strerror(error));
        }
        if (std::chrono::steady_clock::now() > deadline) {
            Stop();
            throw Error(ERROR_SERVICE_REQUEST_TIMEOUT,
                        "The directory server of " + settings_.folder.string() +
                            " did not answer in time: " + LogTail(LogFile()));
        }
        std::this_thread::sleep_for(kPollInterval);
    }
}

void DirectoryServer::Stop() {
    std::string why;
    if (const auto process = FindProcess(why)) {
        process->Signal(SIGTERM);
        if (!process->WaitForEnd(kStopTimeout)) {
            process->Signal(SIGKILL);
            if (!process->WaitForEnd(kStopTimeout))
                throw Error(ERROR_SERVICE_REQUEST_TIMEOUT,
                            "The directory server of " + settings_.folder.string() + " (pid " +
                                std::to_string(process->Pid()) +
                                ") did not end, not even when killed");
        }
    }
    fs::remove(PidFile());
}

} // namespace platform::directory
