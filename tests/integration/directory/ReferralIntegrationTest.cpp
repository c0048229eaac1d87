// "Chase Referrals": a branch of the directory holds nothing but a referral to the users'
// container. Chasing, a search of the branch finds the users there; not chasing, it finds none.
// A binary of its own, since the referral would show up in every search of the other tests.

#include "platform/core/Ado.h"
#include "testsupport/DirectoryEnvironment.h"

#include <gtest/gtest.h>

namespace {

using platform::Variant;
using testing_directory::DirectoryEnvironment;

int CountMailRowsOfBranch(int chaseReferrals) {
    auto connection = platform::CreateObjectAs<platform::ado::Connection>("ADODB.Connection");
    connection->SetProvider("adsDSOobject");
    connection->Open("GC://dc01.corp.example.com", "", "");
    auto command = platform::CreateObjectAs<platform::ado::Command>("ADODB.Command");
    command->SetActiveConnection(connection);
    command->SetCommandText("SELECT mail FROM 'GC://dc01.corp.example.com/OU=Branch,DC=corp,"
                            "DC=example,DC=com' WHERE mail='*'");
    command->SetProperty("Chase Referrals", Variant(chaseReferrals));
    auto rows = command->Execute();
    int count = 0;
    for (; !rows->Eof(); rows->MoveNext())
        ++count;
    return count;
}

TEST(ChaseReferrals, ChasingFollowsTheReferralAndNotChasingSkipsIt) {
    const auto& sample = DirectoryEnvironment::Current().Sample();
    EXPECT_EQ(CountMailRowsOfBranch(0), 0);
    // Every entry of the users' container with a mail address: the mailboxes less the one
    // without mail, plus the contact, which makes as many as there are mailboxes.
    EXPECT_EQ(CountMailRowsOfBranch(96), static_cast<int>(sample.mailboxCount));
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    testing_directory::DirectoryFixtureSettings settings;
    settings.sample.users = 8;
    settings.extraLdif = "dn: OU=Branch,DC=corp,DC=example,DC=com\n"
                         "objectClass: organizationalUnit\n"
                         "ou: Branch\n\n"
                         "dn: CN=Remote,OU=Branch,DC=corp,DC=example,DC=com\n"
                         "objectClass: referral\n"
                         "objectClass: extensibleObject\n"
                         "cn: Remote\n"
                         "ref: @URI@/CN=Users,DC=corp,DC=example,DC=com\n\n";
    ::testing::AddGlobalTestEnvironment(new testing_directory::DirectoryEnvironment(settings));
    return RUN_ALL_TESTS();
}
