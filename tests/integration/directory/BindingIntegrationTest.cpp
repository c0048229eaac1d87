// Binding directory objects by path, and the system information objects.

#include "platform/core/Ado.h"
#include "platform/core/Moniker.h"
#include "platform/directory/Ads.h"
#include "platform/directory/SystemInfo.h"
#include "testsupport/DirectoryEnvironment.h"

#include <gtest/gtest.h>

namespace {

using platform::Variant;
using platform::directory::IADs;
using platform::directory::IADsUser;
using testing_directory::DirectoryEnvironment;

std::string PathOf(const std::string& alias) {
    return DirectoryEnvironment::Current().PathOf(alias);
}

TEST(DirectoryBinding, GlobalCatalogRootNamesItsHost) {
    auto root = platform::GetObjectAs<IADs>("GC://RootDSE");
    EXPECT_EQ(root->Get("dnshostname"),
              Variant(DirectoryEnvironment::Current().Machine().globalCatalogHost));
}

TEST(DirectoryBinding, AccountDisabledFollowsTheAccountControlBit) {
    const auto& sample = DirectoryEnvironment::Current().Sample();
    struct Case {
        std::string alias;
        bool disabled;
    } cases[] = {{sample.localAliases.front(), false},
                 {sample.disabledAlias, true},
                 {sample.otherServerAliases.front(), false}};
    for (const auto& c : cases) {
        const auto path = PathOf(c.alias);
        auto user = platform::GetObjectAs<IADsUser>(path);
        EXPECT_EQ(user->AccountDisabled(), c.disabled) << path;
        EXPECT_EQ(user->ADsPath(), path);
    }
}

TEST(SystemInformation, NamesComeFromTheServerFolder) {
    const auto& machine = DirectoryEnvironment::Current().Machine();
    auto ad = platform::CreateObjectAs<platform::directory::ADSystemInfo>("ADSystemInfo");
    EXPECT_EQ(ad->ForestDNSName(), machine.forestDnsName);
    EXPECT_EQ(ad->DomainDNSName(), machine.domainDnsName);
    auto nt = platform::CreateObjectAs<platform::directory::WinNTSystemInfo>("WinNTSystemInfo");
    EXPECT_EQ(nt->ComputerName(), machine.computerName);
}

} // namespace
