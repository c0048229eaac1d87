#pragma once

// ADsPaths ("LDAP://host/DN", "GC://host", "GC://RootDSE") and the DNS name to DN mapping.

#include <string>
#include <string_view>

namespace platform::directory {

// "corp.example.com" -> "DC=corp,DC=example,DC=com"; empty labels are dropped.
std::string DnsNameToDn(std::string_view dnsName);

struct DirectoryPath {
    std::string scheme; // "LDAP" or "GC", as written (compared without regard to case)
    std::string host;   // may be empty (serverless path)
    std::string dn;     // may be empty (the host's default partition)
    bool rootDse = false;

    bool IsGlobalCatalog() const;
    // The path written back, e.g. "GC://dc01.corp.example.com/CN=x,DC=corp".
    std::string ToString() const;
};

// Parses "LDAP:", "GC:", "LDAP://host", "LDAP://host/DN", "LDAP://DN" (a DN is recognised by its
// "=" before any "/") and "<scheme>://[host/]RootDSE". Fails with E_ADS_BAD_PATHNAME for anything
// else, naming the path.
DirectoryPath ParseDirectoryPath(std::string_view path);

} // namespace platform::directory
