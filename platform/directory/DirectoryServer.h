#pragma once

// The private directory server of a server folder: an OpenLDAP slapd with an AD-like schema,
// reached only through its own ldapi:// socket. Its configuration, schema, data, log and pid file
// live in one folder; the configuration and schema texts are part of this library. Only the
// folder's owner may reach the socket and read the entries; others may read the root DSE.

#include "platform/directory/ServerProcess.h"

#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>

namespace platform::directory {

// Whether the directory server runs, as its pid file and the process it names tell.
struct DirectoryServerState {
    // The pid of this folder's slapd, when it runs.
    std::optional<pid_t> pid;
    // Why no process counts as the server although the pid file names one (the pid file of a
    // server that died, whose pid another process has since); empty otherwise.
    std::string why;
};

struct DirectoryServerSettings {
    // Everything of the server lives here.
    std::filesystem::path folder;
    // The forest's DNS name; its DC= form is the one partition the server holds.
    std::string forestDnsName;
    // The server's own DNS name, published as the root DSE's dNSHostName.
    std::string hostName;
    // Most entries an unpaged search returns (as AD's MaxPageSize); paged searches are unlimited.
    int unpagedSizeLimit = 1000;
};

class DirectoryServer {
public:
    explicit DirectoryServer(DirectoryServerSettings settings);

    // The ldapi:// URI of the server's socket. The socket lies in the folder when its path is
    // short enough for a socket address, otherwise in a private folder under /tmp whose name is
    // derived from the folder.
    std::string Uri() const;
    std::filesystem::path SocketPath() const;
    std::filesystem::path PidFile() const;
    std::filesystem::path LogFile() const;

    // Writes the configuration, schema and root DSE files and creates the data folder.
    void WriteConfiguration() const;
    // Loads LDIF entries straight into the database (fast; the server must be stopped).
    void Load(const std::filesystem::path& ldifFile) const;

    // Adds LDIF entries to the running server over its socket (ldapadd with SASL EXTERNAL).
    void Add(const std::filesystem::path& ldifFile) const;

    // Starts slapd in the foreground as a child and waits until its root DSE answers. Fails when
    // it is already running or does not come up; the description quotes its log.
    void Start();
    // Stops the server named by the pid file (SIGTERM, then waits; SIGKILL after 15 seconds) and
    // removes the pid file. Only this folder's slapd is ever signalled: a pid file naming any
    // other process is removed and the process left alone.
    void Stop();
    // The pid of the running server, if any: the process the pid file names, when it is slapd
    // running this folder's configuration.
    std::optional<pid_t> RunningPid() const;
    // The same, with the reason a process the pid file names is not taken for the server.
    DirectoryServerState State() const;

private:
    std::filesystem::path ConfigFile() const;
    // The process the pid file names, when it is this folder's slapd; otherwise `why` says why
    // not (left empty when there is no pid file).
    std::optional<ServerProcess> FindProcess(std::string& why) const;
    DirectoryServerSettings settings_;
};

// The AD-like schema in slapd's schema file syntax.
std::string ActiveDirectorySchemaText();

} // namespace platform::directory
