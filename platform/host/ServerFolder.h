#pragma once

// The server folder stands for "the Exchange server this runs on": it holds the store database,
// the class registry, the COM+ catalog, the machine's names and the private directory server.
// The platform finds it through the environment variable EXHOST_ROOT.
//
//   <root>/machine.conf   the machine's names, one "key = value" per line ('#' starts a comment)
//   <root>/store/         the store
//   <root>/com/           the class registry
//   <root>/complus/       the COM+ catalog
//   <root>/directory/     the private directory server's data, configuration, socket and pid
//   <root>/tls/           the servers' certificate and key, unless machine.conf names others

#include <filesystem>
#include <map>
#include <string>

namespace platform::host {

constexpr const char* kRootVariable = "EXHOST_ROOT";

// The machine's names, as machine.conf gives them.
struct MachineNames {
    std::string computerName;      // key "computer": NetBIOS name, e.g. MAIL01
    std::string domainDnsName;     // key "domain": e.g. example.com
    std::string forestDnsName;     // key "forest": e.g. example.com
    std::string globalCatalogHost; // key "gc_host": e.g. dc01.example.com
    std::string directoryUri;      // key "directory_uri": the LDAP server, e.g. ldapi://...
    // Not names but the server's mail settings. The alias of the mailbox in the domain folder
    // that takes mail for "postmaster" (key "postmaster"; empty: none).
    std::string postmaster{};
    // Whether the Keywords fields of arriving mail become the item's keywords (key
    // "take_keywords", yes or no). Off unless set: the keywords are the owner's tags, and any
    // sender could otherwise set them, the sink's address stamp included.
    bool takeKeywords = false;
    // Whether delivery writes X-RecipientList with the envelope recipients that reached the
    // mailbox, removing any the sender wrote (key "envelope_recipient_list", yes or no).
    bool envelopeRecipientList = false;
    // The servers' TLS certificate (PEM, with any chain) and its key (keys "tls_certificate" and
    // "tls_key"; a relative path is taken from the server folder; empty: the files in tls/).
    std::string tlsCertificate{};
    std::string tlsKey{};
    // Where submission hands mail for other domains: "host:port" of an MTA that queues it (key
    // "relay_host"; empty: such mail is refused).
    std::string relayHost{};
};

class ServerFolder {
public:
    explicit ServerFolder(std::filesystem::path root);

    // The folder that EXHOST_ROOT names; fails when the variable is unset or empty.
    static ServerFolder FromEnvironment();

    const std::filesystem::path& Root() const { return root_; }
    std::filesystem::path StoreDir() const { return root_ / "store"; }
    std::filesystem::path ComDir() const { return root_ / "com"; }
    std::filesystem::path ComPlusDir() const { return root_ / "complus"; }
    std::filesystem::path DirectoryDir() const { return root_ / "directory"; }
    std::filesystem::path MachineFile() const { return root_ / "machine.conf"; }
    std::filesystem::path TlsDir() const { return root_ / "tls"; }
    // The TLS files the names give, or the ones in tls/ that "exhost init" makes.
    std::filesystem::path TlsCertificateFile(const MachineNames& names) const;
    std::filesystem::path TlsKeyFile(const MachineNames& names) const;

    // Reads machine.conf; fails when it cannot be read or lacks "computer".
    MachineNames ReadMachineNames() const;
    // Writes machine.conf whole, creating the root if needed.
    void WriteMachineNames(const MachineNames& names) const;

private:
    std::filesystem::path root_;
};

// A value of a "key = value" file and the number of its line, for messages about it.
struct FileValue {
    std::string text;
    int line = 0;
};

// "key = value" lines; blanks around keys and values are dropped, '#' lines and blank lines
// skipped. A line without "=" is a failure that names the file and the line number.
std::map<std::string, FileValue> ReadKeyValueFile(const std::filesystem::path& path);

} // namespace platform::host
