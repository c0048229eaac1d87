// Directory connections kept for reuse between sessions, against the private directory.

#include "platform/core/Ado.h"
#include "platform/core/Error.h"
#include "platform/core/ObjectFactory.h"
#include "platform/directory/LdapConnectionPool.h"
#include "sink/LorvantaModule.h"
#include "testsupport/DirectoryEnvironment.h"

#include <gtest/gtest.h>

namespace {

using platform::directory::LdapConnectionPool;
using testing_directory::DirectoryEnvironment;

const std::string& DirectoryUri() {
    return DirectoryEnvironment::Current().Machine().directoryUri;
}

const std::string& Owner() {
    return DirectoryEnvironment::Current().Sample().localAliases.front();
}

TEST(ConnectionPool, AClosedSessionLeavesItsConnectionForTheNextQuery) {
    auto& pool = LdapConnectionPool::Process();
    pool.Forget(DirectoryUri());
    const auto first = lorvanta::GetOwnerAddresses(Owner());
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(pool.IdleCount(DirectoryUri()), 1u);
    EXPECT_EQ(lorvanta::GetOwnerAddresses(Owner()), first);
    EXPECT_EQ(pool.IdleCount(DirectoryUri()), 1u) << "the second query took the waiting one";
}

// A restarted server is a fault road (DirectoryDownTest).
TEST(ConnectionPool, AConnectionThatSawAFailureIsNotKept) {
    auto& pool = LdapConnectionPool::Process();
    pool.Forget(DirectoryUri());
    auto connection = platform::CreateObjectAs<platform::ado::Connection>("ADODB.Connection");
    connection->SetProvider("ADSDSOObject");
    connection->Open("ADs Provider", "", "");
    // A base that does not exist: the server answers with a failure.
    EXPECT_THROW(connection->Execute("<LDAP://corp.example.com/OU=Nowhere,DC=corp,DC=example,"
                                     "DC=com>;(objectClass=*);cn;subtree"),
                 platform::Error);
    connection->Close();
    EXPECT_EQ(pool.IdleCount(DirectoryUri()), 0u);
}

struct PoolCase {
    const char* name;
    std::chrono::milliseconds idleTime;
    std::size_t idlePerServer;
    std::size_t heldAtOnce;
    std::size_t expectedIdle;
    bool expectReuse;
};

class PoolLimits : public ::testing::TestWithParam<PoolCase> {};

TEST_P(PoolLimits, KeepWhatTheLimitsAllow) {
    const auto& test = GetParam();
    LdapConnectionPool pool(test.idleTime, test.idlePerServer);
    {
        std::vector<LdapConnectionPool::Lease> leases;
        for (std::size_t i = 0; i < test.heldAtOnce; ++i)
            leases.push_back(pool.Acquire(DirectoryUri()));
        for (const auto& lease : leases)
            EXPECT_FALSE(lease.reused);
    }
    EXPECT_EQ(pool.IdleCount(DirectoryUri()), test.expectedIdle);
    EXPECT_EQ(pool.Acquire(DirectoryUri()).reused, test.expectReuse);
}

INSTANTIATE_TEST_SUITE_P(Cases, PoolLimits,
                         ::testing::Values(PoolCase{"KeptWhileFresh", std::chrono::minutes(1), 8, 1,
                                                    1, true},
                                           PoolCase{"NoMoreThanThePerServerLimit",
                                                    std::chrono::minutes(1), 2, 3, 2, true},
                                           PoolCase{"ExpiredOnesAreNotReused",
                                                    std::chrono::milliseconds(0), 8, 1, 1, false}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
