// The directory is its owner's alone: others may find the server (its root DSE) and bind, but
// read no entry, and the socket admits only the owner, also when it lies under /tmp (in a server
// folder: PrivateServerFolderTest).

#include "platform/directory/DirectoryServer.h"
#include "testsupport/DirectoryEnvironment.h"
#include "testsupport/FileText.h"

#include <gtest/gtest.h>
#include <ldap.h>

#include <sys/stat.h>

namespace {

using testing_directory::DirectoryEnvironment;
using testsupport::FileMode;

// Entries an anonymous client finds with a search of `base`, or -1 when it cannot bind.
int AnonymousEntries(const std::string& uri, const std::string& base, int scope) {
    LDAP* ld = nullptr;
    if (ldap_initialize(&ld, uri.c_str()) != LDAP_SUCCESS)
        return -1;
    const int version = LDAP_VERSION3;
    ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
    char empty[] = "";
    berval noCredentials{0, empty};
    int count = -1;
    if (ldap_sasl_bind_s(ld, nullptr, LDAP_SASL_SIMPLE, &noCredentials, nullptr, nullptr,
                         nullptr) == LDAP_SUCCESS) {
        LDAPMessage* result = nullptr;
        ldap_search_ext_s(ld, base.c_str(), scope, "(objectClass=*)", nullptr, 0, nullptr, nullptr,
                          nullptr, LDAP_NO_LIMIT, &result);
        count = result ? ldap_count_entries(ld, result) : 0;
        ldap_msgfree(result);
    }
    ldap_unbind_ext_s(ld, nullptr, nullptr);
    return count;
}

TEST(DirectoryPrivacy, AnAnonymousClientFindsTheServerButNoEntry) {
    auto& environment = DirectoryEnvironment::Current();
    const auto uri = environment.Server().Uri();
    const auto& baseDn = environment.Sample().baseDn;
    EXPECT_EQ(AnonymousEntries(uri, "", LDAP_SCOPE_BASE), 1) << "the root DSE";
    EXPECT_EQ(AnonymousEntries(uri, baseDn, LDAP_SCOPE_SUBTREE), 0);
    EXPECT_EQ(AnonymousEntries(uri, "cn=Subschema", LDAP_SCOPE_BASE), 0);
    // The owner, bound over the socket, reads every entry: the other directory tests.
}

// A folder too long for a socket's path puts the socket under /tmp, in a folder of its own.
TEST(DirectoryPrivacy, ASocketUnderTmpLiesInAPrivateFolder) {
    char pattern[] = "/tmp/lorvanta-dir-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const auto previousUmask = ::umask(0);
    platform::directory::DirectoryServerSettings settings;
    settings.folder = std::filesystem::path(pattern) / std::string(120, 'x');
    settings.forestDnsName = "corp.example.com";
    platform::directory::DirectoryServer server(settings);
    EXPECT_FALSE(server.RunningPid().has_value());
    server.WriteConfiguration();
    server.Start();
    const auto socket = server.SocketPath();
    EXPECT_EQ(socket.parent_path().parent_path(), "/tmp");
    EXPECT_LT(socket.string().size(), 101u) << "longer than a socket address holds";
    EXPECT_EQ(FileMode(socket.parent_path()), 0700u) << socket.parent_path();
    EXPECT_EQ(FileMode(socket) & 077, 0u) << socket;
    server.Stop();
    ::umask(previousUmask);
    std::filesystem::remove_all(pattern);
    std::filesystem::remove_all(socket.parent_path());
}

} // namespace
