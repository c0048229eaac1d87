// Parsing and writing ADsPaths, and turning a DNS name into its DC= distinguished name.

#include "platform/directory/DirectoryPath.h"

#include "platform/core/Error.h"
#include "platform/core/Text.h"

namespace platform::directory {

std::string DnsNameToDn(std::string_view dnsName) {
    std::string dn;
    for (auto label : text::Split(dnsName, '.')) {
        if (label.empty())
            continue;
        if (!dn.empty())
            dn += ',';
        dn += "DC=";
        dn += label;
    }
    return dn;
}

bool DirectoryPath::IsGlobalCatalog() const {
    return text::EqualsIgnoreCase(scheme, "GC");
}

std::string DirectoryPath::ToString() const {
    std::string path = scheme + ":";
    if (host.empty() && dn.empty() && !rootDse)
        return path;
    path += "//";
    path += host;
    const std::string object = rootDse ? std::string("RootDSE") : dn;
    if (!host.empty() && !object.empty())
        path += '/';
    path += object;
    return path;
}

DirectoryPath ParseDirectoryPath(std::string_view path) {
    auto bad = [&](const char* why) {
        return Error(hr::E_ADS_BAD_PATHNAME,
                     "Invalid directory path \"" + std::string(path) + "\": " + why);
    };
    const auto colon = path.find(':');
    if (colon == std::string_view::npos)
        throw bad("it names no provider");
    DirectoryPath result;
    result.scheme = std::string(path.substr(0, colon));
    if (!text::EqualsIgnoreCase(result.scheme, "LDAP") &&
        !text::EqualsIgnoreCase(result.scheme, "GC"))
        throw bad("the provider is neither LDAP nor GC");
    auto rest = path.substr(colon + 1);
    if (rest.empty())
        return result;
    if (rest.substr(0, 2) != "//")
        throw bad("\"//\" must follow the provider");
    rest.remove_prefix(2);
    if (rest.empty())
        return result;

    const auto slash = rest.find('/');
    const auto equals = rest.find('=');
    const bool startsWithDn = equals != std::string_view::npos && equals < slash;
    std::string_view object;
    if (startsWithDn) {
        object = rest;
    } else if (slash == std::string_view::npos) {
        // A single component is a host, unless it is the root DSE.
        if (text::EqualsIgnoreCase(rest, "RootDSE"))
            object = rest;
        else
            result.host = std::string(rest);
    } else {
        result.host = std::string(rest.substr(0, slash));
        object = rest.substr(slash + 1);
        if (result.host.empty())
            throw bad("the server name is empty");
        if (object.empty())
            throw bad("nothing follows the \"/\" after the server name");
    }
    if (text::EqualsIgnoreCase(object, "RootDSE"))
        result.rootDse = true;
    else
        result.dn = std::string(object);
    return result;
}

} // namespace platform::directory
