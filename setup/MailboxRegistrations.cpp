// Registering, unregistering and looking up the sink on a mailbox under its URL forms.

#include "setup/MailboxRegistrations.h"

#include "setup/Items.h"

namespace lorvanta::setup {

namespace {

constexpr const char* kEventMethod = "onsyncsave";
constexpr const char* kSinkClass = "Lorvanta.LorvantaCls";
constexpr const char* kCriteria = " WHERE \"DAV:ishidden\" = FALSE";
constexpr const char* kPriority = "1";
constexpr const char* kLookUpCriteria =
    " AND \"DAV:ishidden\" = true AND \"DAV:isfolder\" = false ";

struct UrlAttempt {
    bool when;
    std::string url;
    bool logErrors;
};

} // namespace

void RegisterMailbox(ErrorLog& log, const MailboxSite& site, const EntryFields& entry,
                     const std::string& folderName, const std::string& matchScope) {
    const bool hasLocal = !entry.localPart.empty();
    const bool hasDomain = hasLocal && !entry.mailDomain.empty();
    const bool hasAlias = !entry.alias.empty();
    const UrlAttempt attempts[] = {
        {hasDomain, "file://./backofficestorage/" + entry.mailDomain + "/mbx/" + entry.localPart,
         false},
        {hasDomain,
         "http://" + site.computerName + "/exadmin/" + entry.mailDomain + "/mbx/" + entry.localPart,
         false},
        {hasLocal, site.fileFolderUrl + "/" + entry.localPart, false},
        {hasLocal, site.folderUrl + "/" + entry.localPart, !hasAlias},
        {hasAlias, site.fileFolderUrl + "/" + entry.alias, false},
        {hasAlias, site.folderUrl + "/" + entry.alias, true},
    };
    for (const auto& attempt : attempts) {
        if (attempt.when && !CreateEventRegistration(
                                 log, attempt.url, folderName, kRegistrationName, kEventMethod,
                                 kSinkClass, matchScope, kCriteria, kPriority, attempt.logErrors)
                                 .empty())
            return;
    }
}

void UnregisterMailbox(ErrorLog& log, const MailboxSite& site, const EntryFields& entry,
                       const std::string& folderName) {
    const bool hasAlias = !entry.alias.empty();
    const UrlAttempt attempts[] = {
        {true, site.folderUrl + "/" + entry.localPart, false},
        {hasAlias, site.folderUrl + "/" + entry.alias, true},
        {hasAlias, site.fileFolderUrl + "/" + entry.alias, true},
        {true, site.fileFolderUrl + "/" + entry.localPart, false},
    };
    for (const auto& attempt : attempts) {
        if (attempt.when && DeleteEventRegistration(log, attempt.url, folderName, kRegistrationName,
                                                    attempt.logErrors))
            return;
    }
}

std::int16_t LookUpRegistration(ErrorLog& log, const MailboxSite& site, const std::string& alias,
                                const std::string& localPart, const std::string& folderName,
                                std::shared_ptr<platform::ado::Connection>& storeConnection) {
    std::int16_t state = 0;
    auto find = [&](const std::string& root, const std::string& name, bool logErrors) {
        return FindEventRegistration(log, root + "/" + name, folderName, kRegistrationName,
                                     kLookUpCriteria, logErrors, storeConnection);
    };
    if (!alias.empty()) {
        state = find(site.folderUrl, alias, false);
        if (state == -1)
            state = find(site.fileFolderUrl, alias, localPart.empty());
    }
    if (!localPart.empty() && state == -1) {
        state = find(site.folderUrl, localPart, false);
        if (state == -1)
            state = find(site.fileFolderUrl, localPart, true);
    }
    return state;
}

} // namespace lorvanta::setup
