// The LDIF the platform writes, as the private slapd loads it: the sample's non-ASCII values
// (base64 in the file, through slapadd) and values that are not SAFE-STRINGs (through ldapadd)
// read back through the directory as the texts that were written. The root DSE, the system
// information objects and the disabled flag as the setup program reads them: InstallFormRoadTest.

#include "platform/core/Moniker.h"
#include "platform/directory/Ads.h"
#include "platform/directory/LdifText.h"
#include "testsupport/DirectoryEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace {

using platform::Variant;
using platform::directory::AppendLdifLine;
using platform::directory::IADs;
using testing_directory::DirectoryEnvironment;

std::string PathOf(const std::string& alias) {
    return DirectoryEnvironment::Current().PathOf(alias);
}

TEST(SampleLdif, NonAsciiValuesReadBackAsWritten) {
    const auto& sample = DirectoryEnvironment::Current().Sample();
    ASSERT_NE(sample.ldif.find("\ngivenName:: "), std::string::npos);
    auto user = platform::GetObjectAs<IADs>(PathOf(sample.utf8Alias));
    EXPECT_EQ(user->Get("givenName"), Variant("J\xC3\xB6rg")); // Jörg
    EXPECT_EQ(user->Get("sn"), Variant("Wei\xC3\x9F"));        // Weiß
    const auto proxies = user->Get("proxyAddresses");
    ASSERT_TRUE(proxies.IsArray());
    EXPECT_NE(
        std::find(proxies.Array().begin(), proxies.Array().end(), "smtp:" + sample.utf8Address),
        proxies.Array().end());
}

TEST(WrittenLdif, ValuesThatNeedBase64ReadBackAsWrittenAfterLdapadd) {
    auto& environment = DirectoryEnvironment::Current();
    // Outside the users' container, and with no mail attributes, so no mailbox query sees it.
    const std::string unit = "OU=Ldif Values,DC=corp,DC=example,DC=com";
    const std::string dn = "CN=J\xC3\xBCrgen Gro\xC3\x9F," + unit; // Jürgen Groß
    const std::pair<const char*, std::string> values[] = {
        {"displayName", "J\xC3\xBCrgen"},  {"description", "ends in a space "},
        {"sn", ":starts with a colon"},    {"givenName", "<starts with an angle"},
        {"title", " starts with a space"},
    };
    std::string ldif;
    AppendLdifLine(ldif, "dn", unit);
    AppendLdifLine(ldif, "objectClass", "organizationalUnit");
    AppendLdifLine(ldif, "ou", "Ldif Values");
    ldif += '\n';
    AppendLdifLine(ldif, "dn", dn);
    for (const auto* objectClass : {"top", "person", "organizationalPerson", "inetOrgPerson"})
        AppendLdifLine(ldif, "objectClass", objectClass);
    AppendLdifLine(ldif, "cn", "J\xC3\xBCrgen Gro\xC3\x9F");
    for (const auto& [name, value] : values)
        AppendLdifLine(ldif, name, value);
    ASSERT_EQ(ldif.find("\xC3"), std::string::npos) << ldif;
    const auto file = environment.Root() / "written.ldif";
    std::ofstream(file) << ldif;
    environment.Server().Add(file);

    // The entry's path: the sample user's, "GC://host/" and then the other name.
    auto path = PathOf(environment.Sample().utf8Alias);
    path.replace(path.find('/', std::string_view("GC://").size()) + 1, std::string::npos, dn);
    auto entry = platform::GetObjectAs<IADs>(path);
    for (const auto& [name, value] : values) {
        // Multi-valued attributes come as arrays of their one value.
        const auto got = entry->Get(name);
        EXPECT_EQ(got.IsArray() ? got : Variant(Variant::TextArray{got.ToText()}),
                  Variant(Variant::TextArray{value}))
            << name;
    }
}

} // namespace
