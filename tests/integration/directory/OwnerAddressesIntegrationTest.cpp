// The sink's owner lookup, unchanged, against the private directory.

#include "sink/LorvantaModule.h"
#include "tests/integration/AtOnce.h"
#include "testsupport/DirectoryEnvironment.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

using testing_directory::DirectoryEnvironment;

std::string WithoutPrefix(const std::string& proxy) {
    return proxy.substr(proxy.find(':') + 1);
}

TEST(OwnerAddressesAgainstDirectory, TheOwnersSmtpAddressesOnlyInStoredOrder) {
    const auto& sample = DirectoryEnvironment::Current().Sample();
    const auto& proxies = sample.firstLocalProxyAddresses;
    ASSERT_EQ(proxies.size(), 5u);
    // The stored order: SMTP:, smtp:, X400:, smtp:, X500:. The prefix's case does not matter and
    // X400/X500 are skipped. The sample's contact whose address shares the name is no owner.
    ASSERT_FALSE(sample.contactMail.empty());
    const std::string expected = WithoutPrefix(proxies[0]) + "," + WithoutPrefix(proxies[1]) + "," +
                                 WithoutPrefix(proxies[3]);
    EXPECT_EQ(lorvanta::GetOwnerAddresses(sample.localAliases.front()), expected);
}

TEST(OwnerAddressesAgainstDirectory, EntriesWithoutAMailboxHereLendNoAddresses) {
    // A partner's contact and another server's user in a second domain, both with a mail address
    // that begins with a local mailbox's name, and both claiming an address of this domain.
    auto& environment = DirectoryEnvironment::Current();
    const auto& alias = environment.Sample().localAliases.at(2);
    const auto before = lorvanta::GetOwnerAddresses(alias);
    ASSERT_FALSE(before.empty());
    const auto users = "CN=Users,DC=corp,DC=example,DC=com";
    const auto ldif = environment.Root() / "foreign-owners.ldif";
    std::ofstream(ldif) << "dn: CN=" << alias << " (partner contact)," << users << "\n"
                        << "objectClass: top\nobjectClass: person\n"
                        << "objectClass: organizationalPerson\nobjectClass: contact\n"
                        << "cn: " << alias << " (partner contact)\nsn: contact\n"
                        << "mail: " << alias << "@partner.org\n"
                        << "proxyAddresses: SMTP:" << alias << "@partner.org\n"
                        << "proxyAddresses: smtp:boss@corp.example.com\n\n"
                        << "dn: CN=" << alias << " (second domain)," << users << "\n"
                        << "objectClass: top\nobjectClass: person\n"
                        << "objectClass: organizationalPerson\nobjectClass: inetOrgPerson\n"
                        << "objectClass: adRecipient\n"
                        << "cn: " << alias << " (second domain)\nsn: second\n"
                        << "mail: " << alias << "@second.example.org\n"
                        << "msExchHomeServerName: "
                        << platform::directory::HomeServerValue("MAIL02") << "\n"
                        << "proxyAddresses: SMTP:" << alias << "@second.example.org\n"
                        << "proxyAddresses: smtp:ceo@corp.example.com\n\n";
    environment.Server().Add(ldif);
    EXPECT_EQ(lorvanta::GetOwnerAddresses(alias), before);
}

TEST(OwnerAddressesAgainstDirectory, ANameFindsTheEntryWhoseMailItPrefixesAndNoOther) {
    const auto& sample = DirectoryEnvironment::Current().Sample();
    const auto& first = sample.localAliases.front();
    const auto& other = sample.localAliases.at(1);
    const auto found = lorvanta::GetOwnerAddresses(other);
    EXPECT_EQ(found.rfind(other + "@corp.example.com,", 0), 0u) << found;
    EXPECT_EQ(found.find(first + "@"), std::string::npos) << found;
    // An entry without alias is found by its mail address.
    const auto prefix = sample.noAliasMail.substr(0, sample.noAliasMail.find('@'));
    EXPECT_EQ(lorvanta::GetOwnerAddresses(prefix), sample.noAliasMail);
    for (const std::string& name : {std::string("nobody"), first.substr(0, first.size() - 1),
                                    first + "x", std::string("corp.example.com"), std::string()})
        EXPECT_EQ(lorvanta::GetOwnerAddresses(name), "") << name;
}

// Hostile names are escaped (OwnerAddresses, in StampMessageTest); an unreachable directory is a
// fault road (DirectoryDownTest).
TEST(OwnerAddressesAgainstDirectory, LookupsOnSeveralThreadsAtOnceGiveTheSameAnswers) {
    const auto& aliases = DirectoryEnvironment::Current().Sample().localAliases;
    std::vector<std::string> expected;
    for (std::size_t i = 0; i < 8; ++i)
        expected.push_back(lorvanta::GetOwnerAddresses(aliases[i]));
    const auto mismatches = integration::AtOnce(4, [&](int) {
        for (int round = 0; round < 25; ++round)
            for (std::size_t i = 0; i < expected.size(); ++i)
                if (const auto found = lorvanta::GetOwnerAddresses(aliases[i]);
                    found != expected[i])
                    return aliases[i] + ": " + found;
        return std::string();
    });
    EXPECT_EQ(mismatches, std::vector<std::string>{});
    EXPECT_FALSE(expected.front().empty());
}

} // namespace
