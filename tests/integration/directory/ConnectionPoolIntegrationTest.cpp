// Directory connections kept for reuse between sessions, against the private directory.

#include "platform/core/Ado.h"
#include "platform/core/Error.h"
#include "platform/core/ObjectFactory.h"
#include "platform/directory/LdapConnectionPool.h"
#include "sink/LorvantaModule.h"
#include "testsupport/DirectoryEnvironment.h"

#include <gtest/gtest.h>

namespace {

using platform::directory::HeldConnections;
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

TEST(ConnectionPool, KeepsWhatTheLimitsAllow) {
    using std::chrono::milliseconds, std::chrono::minutes;
    const struct {
        const char* name;
        std::chrono::milliseconds idleTime;
        std::size_t idlePerServer, heldAtOnce, expectedIdle;
        bool expectReuse;
    } cases[] = {{"kept while fresh", minutes(1), 8, 1, 1, true},
                 {"no more than the per-server limit", minutes(1), 2, 3, 2, true},
                 {"expired ones are not reused", milliseconds(0), 8, 1, 1, false}};
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
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
}

TEST(ConnectionPool, RunsOnceMoreOnlyWhenAReusedConnectionFoundTheServerGone) {
    constexpr std::int32_t kServerDown = platform::hr::ERROR_DS_SERVER_DOWN;
    const struct {
        const char* name;
        bool firstReused; // whether the first run gets a connection that served an earlier query
        // The work's failures, one per run: 0 is success, anything else the number it fails with.
        std::vector<std::int32_t> failures;
        std::size_t expectedRuns;
        bool expectSuccess;
        std::size_t expectedIdle; // waiting connections afterwards
    } cases[] = {
        // The new connection of the second run is kept; the stale one and its sibling are not.
        {"stale reused connection", true, {kServerDown, 0}, 2, true, 1},
        // The second run's connection saw a failure too: it is not kept either.
        {"only once", true, {kServerDown, kServerDown}, 2, false, 0},
        // A new connection that finds the server gone: it is gone.
        {"new connection", false, {kServerDown}, 1, false, 0},
        // Any other failure is the work's own; the connection that saw it is not kept.
        {"other failure", true, {platform::hr::E_FAIL}, 1, false, 1},
        {"success", true, {0}, 1, true, 2},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        LdapConnectionPool pool;
        if (test.firstReused) {
            // Two waiting connections: a stale first one means its sibling is dropped too.
            auto first = pool.Acquire(DirectoryUri());
            auto second = pool.Acquire(DirectoryUri());
        }
        HeldConnections held(pool);
        std::size_t runs = 0;
        const auto work = [&] {
            const auto connection = held.To(DirectoryUri());
            const auto failure = test.failures.at(runs++);
            if (failure != 0)
                throw platform::Error(failure, "failed on purpose");
            return connection->Uri();
        };
        bool succeeded = false;
        try {
            succeeded = platform::directory::RetryOnStale(held, work) == DirectoryUri();
        } catch (const platform::Error& error) {
            EXPECT_EQ(error.Number(), test.failures.at(runs - 1));
        }
        held.Clear();
        EXPECT_EQ(runs, test.expectedRuns);
        EXPECT_EQ(succeeded, test.expectSuccess);
        EXPECT_EQ(pool.IdleCount(DirectoryUri()), test.expectedIdle);
    }
}

} // namespace
