// The sink's owner lookup, unchanged, against the private directory.

#include "sink/LorvantaModule.h"
#include "tests/integration/directory/DirectoryEnvironment.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using testing_directory::DirectoryEnvironment;

std::string WithoutPrefix(const std::string& proxy) {
    return proxy.substr(proxy.find(':') + 1);
}

TEST(OwnerAddressesAgainstDirectory, MailboxAndContactBothContributeSmtpAddressesOnly) {
    const auto& sample = DirectoryEnvironment::Current().Sample();
    const auto& proxies = sample.firstLocalProxyAddresses;
    ASSERT_EQ(proxies.size(), 5u);
    // The stored order: SMTP:, smtp:, X400:, smtp:, X500:. The prefix's case does not matter and
    // X400/X500 are skipped; the user comes before the contact added after it.
    const std::string expected = WithoutPrefix(proxies[0]) + "," + WithoutPrefix(proxies[1]) + "," +
                                 WithoutPrefix(proxies[3]) + "," + sample.contactMail + "," +
                                 sample.localAliases.front() + ".partner@partner.example.net";
    EXPECT_EQ(lorvanta::GetOwnerAddresses(sample.localAliases.front()), expected);
}

TEST(OwnerAddressesAgainstDirectory, EachMailboxFindsOnlyItsOwnAddresses) {
    const auto& sample = DirectoryEnvironment::Current().Sample();
    const auto& other = sample.localAliases.at(1);
    const auto found = lorvanta::GetOwnerAddresses(other);
    EXPECT_EQ(found.rfind(other + "@corp.example.com,", 0), 0u) << found;
    EXPECT_EQ(found.find(sample.localAliases.front() + "@"), std::string::npos) << found;
}

TEST(OwnerAddressesAgainstDirectory, EntriesWithoutAliasAreFoundByTheirMailAddress) {
    const auto& sample = DirectoryEnvironment::Current().Sample();
    const auto prefix = sample.noAliasMail.substr(0, sample.noAliasMail.find('@'));
    EXPECT_EQ(lorvanta::GetOwnerAddresses(prefix), sample.noAliasMail);
}

TEST(OwnerAddressesAgainstDirectory, ANameThatIsNotAMailPrefixFindsNothing) {
    const auto& sample = DirectoryEnvironment::Current().Sample();
    const auto& alias = sample.localAliases.front();
    for (const std::string& name : {std::string("nobody"), alias.substr(0, alias.size() - 1),
                                    alias + "x", std::string("corp.example.com"), std::string()})
        EXPECT_EQ(lorvanta::GetOwnerAddresses(name), "") << name;
}

TEST(OwnerAddressesAgainstDirectory, HostileMailboxNamesFindNothing) {
    for (const std::string name : {"*", "a*", "x)(mail=*", "\\", "*)(objectClass=*", "(", ")"})
        EXPECT_EQ(lorvanta::GetOwnerAddresses(name), "") << name;
}

TEST(OwnerAddressesAgainstDirectory, AnUnreachableDirectoryGivesTheEmptyList) {
    const auto& environment = DirectoryEnvironment::Current();
    const auto& sample = environment.Sample();
    const std::string saved = std::getenv(platform::host::kRootVariable);
    const auto elsewhere = environment.Root() / "unreachable";
    auto machine = environment.Machine();
    machine.directoryUri = "ldapi://%2Ftmp%2Florvanta-no-such-socket";
    platform::host::ServerFolder(elsewhere).WriteMachineNames(machine);
    setenv(platform::host::kRootVariable, elsewhere.c_str(), 1);
    const auto found = lorvanta::GetOwnerAddresses(sample.localAliases.front());
    setenv(platform::host::kRootVariable, saved.c_str(), 1);
    EXPECT_EQ(found, "");
}

} // namespace

#include <thread>

namespace {

TEST(OwnerAddressesAgainstDirectory, LookupsOnSeveralThreadsAtOnceGiveTheSameAnswers) {
    const auto& aliases = DirectoryEnvironment::Current().Sample().localAliases;
    std::vector<std::string> expected;
    for (std::size_t i = 0; i < 8; ++i)
        expected.push_back(lorvanta::GetOwnerAddresses(aliases[i]));
    std::vector<int> mismatches(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 25; ++round)
                for (std::size_t i = 0; i < expected.size(); ++i)
                    mismatches[t] += lorvanta::GetOwnerAddresses(aliases[i]) != expected[i];
        });
    for (auto& thread : threads)
        thread.join();
    for (int t = 0; t < 4; ++t)
        EXPECT_EQ(mismatches[t], 0) << "thread " << t;
    EXPECT_FALSE(expected.front().empty());
}

} // namespace
