#pragma once

// The two URL forms that address one store item:
//   file://./backofficestorage/<domain folder>/mbx/<mailbox>/<path>
//   http://<this server>/exadmin/<domain folder>/mbx/<mailbox>/<path>

#include <string>
#include <vector>

namespace platform::store {

enum class UrlForm { File, Http };

// The names under which the HTTP form may name this server: the NetBIOS computer name or that
// name followed by "." and the DNS domain, in any letter case.
struct ServerNames {
    std::string computerName;
    std::string domainDnsName;
};

struct StoreUrl {
    UrlForm form = UrlForm::File;
    // The host as written in an HTTP URL (kept so that URLs built from this one match it).
    std::string host;
    std::string domain;
    // Empty for a URL that ends at the domain folder or its "mbx" folder.
    std::string mailbox;
    // Folder and item names below the mailbox; empty segments ("a//b", a trailing "/") are
    // dropped.
    std::vector<std::string> path;
};

// Fails with ERROR_INVALID_NAME for a text that is not a store URL and with ERROR_BAD_NETPATH
// for an HTTP URL that names another server. The description names the URL.
StoreUrl ParseStoreUrl(const std::string& url, const ServerNames& server);

// The URL of the mailbox's root in the given form ("" mailbox: the domain's "mbx" folder).
std::string MailboxBaseUrl(UrlForm form, const std::string& host, const std::string& domain,
                           const std::string& mailbox);

// The whole URL of a parsed location, path included.
std::string FormatStoreUrl(const StoreUrl& url);

// The host that the HTTP form uses by default for this server: "<computer>.<domain>" in lower
// case.
std::string DefaultHttpHost(const ServerNames& server);

} // namespace platform::store
