#pragma once

// Where the mailboxes of this server live: the server's names and the two base URLs of the
// domain's mailbox folder, found once when the window loads.

#include <string>
#include <vector>

namespace lorvanta::setup {

struct MailboxSite {
    std::string computerName;      // "netbios.domain", lower case
    std::string shortComputerName; // up to the first dot
    std::string folderUrl;         // http://computer/exadmin/domain/mbx
    std::string fileFolderUrl;     // file://./backofficestorage/domain/mbx
};

// The site for a computer of that NetBIOS name in that DNS domain. The first entry of the
// store's namespace root, when there is one, names the domain folder instead of the DNS domain.
MailboxSite SiteFor(const std::string& netBiosName, const std::string& domainDnsName,
                    const std::vector<std::string>& namespaceEntries);

} // namespace lorvanta::setup
