#include "platform/directory/SampleDirectory.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>

using platform::directory::GenerateSampleDirectory;
using platform::directory::SampleDirectorySettings;

namespace {

std::size_t CountLines(const std::string& ldif, const std::string& prefix) {
    std::istringstream in(ldif);
    std::size_t count = 0;
    for (std::string line; std::getline(in, line);)
        count += line.rfind(prefix, 0) == 0;
    return count;
}

} // namespace

TEST(SampleDirectory, TheSameSeedGivesTheSameDataAndAnotherSeedOther) {
    SampleDirectorySettings settings;
    settings.users = 20;
    settings.operatorAccount = "operator";
    const auto first = GenerateSampleDirectory(settings);
    EXPECT_EQ(GenerateSampleDirectory(settings).ldif, first.ldif);
    settings.seed = 2;
    EXPECT_NE(GenerateSampleDirectory(settings).ldif, first.ldif);
}

TEST(SampleDirectory, HoldsTheEntriesTheSystemMustCopeWith) {
    SampleDirectorySettings settings;
    settings.users = 12;
    settings.operatorAccount = "opuser";
    const auto sample = GenerateSampleDirectory(settings);
    EXPECT_EQ(sample.baseDn, "DC=corp,DC=example,DC=com");
    EXPECT_EQ(sample.localAliases.size(), 12u);
    EXPECT_EQ(sample.otherServerAliases.size(), 4u);
    // Ordinary users, the disabled one, the system mailbox, no mail, no alias, the " / " one,
    // the one with a UTF-8 address.
    EXPECT_EQ(sample.mailboxCount, 12u + 4u + 6u);
    EXPECT_EQ(sample.localMailboxCount, 12u + 6u);
    EXPECT_EQ(CountLines(sample.ldif, "proxyAddresses: smtp:" + sample.utf8Address), 1u);
    EXPECT_EQ(CountLines(sample.ldif, "msExchMailboxGuid: {"), sample.mailboxCount);
    EXPECT_EQ(CountLines(sample.ldif, "msExchHomeServerName: "), sample.mailboxCount);
    EXPECT_EQ(CountLines(sample.ldif, "userAccountControl: 514"), 1u);
    EXPECT_EQ(CountLines(sample.ldif, "objectClass: contact"), 1u);
    EXPECT_EQ(CountLines(sample.ldif, "sAMAccountName: opuser"), 1u);
    EXPECT_EQ(sample.contactMail.rfind(sample.localAliases.front() + "@", 0), 0u);
    EXPECT_EQ(sample.systemMailboxAlias.rfind("SystemMailbox{", 0), 0u);
    EXPECT_NE(sample.slashDisplayName.find(" / "), std::string::npos);
    EXPECT_NE(sample.quotedSurname.find('\''), std::string::npos);

    // Aliases are unique, and the first user has primary, secondary and non-SMTP addresses.
    std::set<std::string> aliases(sample.localAliases.begin(), sample.localAliases.end());
    aliases.insert(sample.otherServerAliases.begin(), sample.otherServerAliases.end());
    EXPECT_EQ(aliases.size(), 16u);
    const auto& proxies = sample.firstLocalProxyAddresses;
    ASSERT_FALSE(proxies.empty());
    EXPECT_EQ(proxies[0], "SMTP:" + sample.localAliases.front() + "@corp.example.com");
    std::set<std::string> prefixes;
    for (const auto& proxy : proxies)
        prefixes.insert(proxy.substr(0, proxy.find(':')));
    EXPECT_EQ(prefixes, (std::set<std::string>{"SMTP", "smtp", "X400", "X500"}));
}
