// The mailbox name taken from an item URL, and the directory query built from it.
//
// Input: the item URL. The name must be the whole URL or a slash-free segment that stands two
// segments before the item's name; whatever it holds, the owner query built from it must read
// back with the same search base, attribute and scope, and a filter the directory accepts.

#include "FuzzCheck.h"
#include "LdapFilter.h"

#include "platform/core/Error.h"
#include "platform/directory/DirectoryQuery.h"
#include "platform/directory/FilterEscape.h"
#include "sink/LorvantaModule.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

// The part of the URL from its third-last "/", when all three such "/" stand after the first
// character: "/name/folder/item".
std::string_view LastThreeSegments(std::string_view url) {
    std::size_t position = url.size();
    for (int i = 0; i < 3; ++i) {
        if (position == 0)
            return {};
        position = url.rfind('/', position - 1);
        if (position == std::string_view::npos || position == 0)
            return {};
    }
    return url.substr(position);
}

void CheckMailboxName(std::string_view url, const std::string& name) {
    const auto tail = LastThreeSegments(url);
    if (tail.empty()) {
        fuzz::Check(name == url, "too few separators give the whole URL", url, name);
        return;
    }
    fuzz::Check(name.find('/') == std::string::npos, "the mailbox name holds no \"/\"", url, name);
    fuzz::Check(tail.substr(1, name.size()) == name && tail.size() > name.size() + 1 &&
                    tail[name.size() + 1] == '/',
                "the mailbox name is the segment two before the item's name", url, name);
}

void CheckOwnerQuery(std::string_view url, const std::string& name) {
    const std::string forest = "corp.example.com";
    const auto text = lorvanta::OwnerAddressQuery(forest, name, "MAIL01");
    platform::directory::DirectoryQuery query;
    try {
        query = platform::directory::ParseLdapDialect(text);
    } catch (const platform::Error& error) {
        fuzz::Broken("the owner query reads back", url, error.Description());
    }
    fuzz::Check(query.root.host == forest && query.root.dn.empty(),
                "the owner query searches the forest", url, text);
    fuzz::Check(query.attributes.size() == 1 && query.attributes[0] == "proxyAddresses" &&
                    query.scope == platform::directory::SearchScope::Subtree,
                "the owner query asks for proxyAddresses over the subtree", url, text);
    fuzz::Check(query.filter == "(&(objectClass=organizationalPerson)(mail=" +
                                    platform::directory::EscapeFilterValue(name) +
                                    "@*)(msExchHomeServerName=*/cn=MAIL01))",
                "the owner query's filter carries the whole mailbox name", url, query.filter);
    fuzz::Check(fuzz::IsValidLdapFilter(query.filter), "the owner query's filter is valid", url,
                query.filter);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view url(reinterpret_cast<const char*>(data), size);
    const auto name = lorvanta::GetMailboxName(url);
    CheckMailboxName(url, name);
    CheckOwnerQuery(url, name);
    return 0;
}
