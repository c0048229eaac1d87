// The server's names and the mailbox folder's URLs.

#include "setup/MailboxSite.h"

#include "platform/core/Text.h"

namespace lorvanta::setup {

MailboxSite SiteFor(const std::string& netBiosName, const std::string& domainDnsName,
                    const std::vector<std::string>& namespaceEntries) {
    MailboxSite site;
    site.computerName =
        platform::text::ToLower(netBiosName) + "." + platform::text::ToLower(domainDnsName);
    site.shortComputerName = site.computerName;
    const auto dot = site.computerName.find('.');
    if (dot != std::string::npos && dot > 0)
        site.shortComputerName = site.computerName.substr(0, dot);

    std::string domainFolder = domainDnsName;
    if (!namespaceEntries.empty() && !namespaceEntries.front().empty())
        domainFolder = namespaceEntries.front();
    site.fileFolderUrl = "file://./backofficestorage/" + domainFolder + "/mbx";
    site.folderUrl = "http://" + site.computerName + "/exadmin/" + domainFolder + "/mbx";
    return site;
}

} // namespace lorvanta::setup
