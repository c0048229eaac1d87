// Parses and writes the file:// and http:// URLs of store items, and recognises which host names
// mean this server.

#include "platform/store/StoreUrl.h"

#include "platform/core/Text.h"
#include "platform/store/FoldedName.h"
#include "platform/store/StoreErrors.h"

namespace platform::store {

namespace {

constexpr std::string_view kFilePrefix = "file://./backofficestorage/";
constexpr std::string_view kHttpPrefix = "http://";
constexpr std::string_view kHttpRoot = "exadmin";
constexpr std::string_view kMailboxFolder = "mbx";

[[noreturn]] void NotAStoreUrl(const std::string& url, const std::string& why) {
    throw Error(hr::ERROR_INVALID_NAME, "\"" + url + "\" is not a store URL: " + why);
}

bool IsThisServer(std::string_view host, const ServerNames& server) {
    if (text::EqualsIgnoreCase(host, server.computerName) ||
        text::EqualsIgnoreCase(host, "localhost"))
        return true;
    return !server.domainDnsName.empty() &&
           text::EqualsIgnoreCase(host, server.computerName + "." + server.domainDnsName);
}

} // namespace

std::string DefaultHttpHost(const ServerNames& server) {
    std::string host = server.computerName;
    if (!server.domainDnsName.empty())
        host += "." + server.domainDnsName;
    return FoldedName(host);
}

StoreUrl ParseStoreUrl(const std::string& url, const ServerNames& server) {
    StoreUrl result;
    std::string_view rest;
    if (auto length = text::MatchPrefixIgnoreCase(url, kFilePrefix)) {
        result.form = UrlForm::File;
        rest = std::string_view(url).substr(*length);
    } else if (auto httpLength = text::MatchPrefixIgnoreCase(url, kHttpPrefix)) {
        result.form = UrlForm::Http;
        rest = std::string_view(url).substr(*httpLength);
        const auto slash = rest.find('/');
        result.host = std::string(rest.substr(0, slash));
        if (result.host.empty())
            NotAStoreUrl(url, "it names no server");
        if (!IsThisServer(result.host, server))
            throw Error(hr::ERROR_BAD_NETPATH, "The server \"" + result.host + "\" of \"" + url +
                                                   "\" is not this server (" +
                                                   DefaultHttpHost(server) + ")");
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        auto segments = text::Split(rest, '/');
        if (segments.empty() || !text::EqualsIgnoreCase(segments[0], kHttpRoot))
            NotAStoreUrl(url, "its path does not begin with /exadmin/");
        rest = rest.substr(std::min(rest.size(), kHttpRoot.size() + 1));
    } else {
        NotAStoreUrl(url, "it begins with neither file://./backofficestorage/ nor http://");
    }

    std::vector<std::string> segments;
    for (auto segment : text::Split(rest, '/'))
        if (!segment.empty())
            segments.emplace_back(segment);
    if (segments.empty())
        NotAStoreUrl(url, "it names no domain folder");
    result.domain = segments[0];
    if (segments.size() >= 2 && !text::EqualsIgnoreCase(segments[1], kMailboxFolder))
        NotAStoreUrl(url, "the domain folder holds only the \"mbx\" folder");
    if (segments.size() >= 3)
        result.mailbox = segments[2];
    if (segments.size() > 3)
        result.path.assign(segments.begin() + 3, segments.end());
    return result;
}

std::string MailboxBaseUrl(UrlForm form, const std::string& host, const std::string& domain,
                           const std::string& mailbox) {
    std::string base = form == UrlForm::File
                           ? std::string(kFilePrefix) + domain + "/" + std::string(kMailboxFolder)
                           : std::string(kHttpPrefix) + host + "/" + std::string(kHttpRoot) + "/" +
                                 domain + "/" + std::string(kMailboxFolder);
    if (!mailbox.empty())
        base += "/" + mailbox;
    return base;
}

std::string FormatStoreUrl(const StoreUrl& url) {
    std::string result = MailboxBaseUrl(url.form, url.host, url.domain, url.mailbox);
    for (const auto& segment : url.path)
        result += "/" + segment;
    return result;
}

} // namespace platform::store
