#pragma once

// The private directory server of a server folder: an OpenLDAP slapd with an AD-like schema,
// reached only through its own ldapi:// socket. Its configuration, schema, data, log and pid file
// live in one folder; the configuration and schema texts are part of this library. Only the
// folder's owner may reach the socket and read the entries; others may read the root DSE.

#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>

namespace platform::directory {

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
    // Stops the server named by the pid file (SIGTERM, then waits). Does nothing when none runs.
    void Stop();
    // The pid of the running server, if any.
    std::optional<pid_t> RunningPid() const;

private:
    std::filesystem::path ConfigFile() const;
    DirectoryServerSettings settings_;
};

// The AD-like schema in slapd's schema file syntax.
std::string ActiveDirectorySchemaText();

} // namespace platform::directory
