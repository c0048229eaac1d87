#pragma once

// A stand-in LDAP server on a Unix socket: it answers the first `answers` requests with success,
// then stays silent on an open connection (a server that stopped answering) or hangs up (one that
// died between two requests). Destroying it drops the connection, which ends any wait.

#include <atomic>
#include <filesystem>
#include <thread>

namespace doubles {

class SilentLdapServer {
public:
    enum class Then { StaySilent, HangUp };

    explicit SilentLdapServer(const std::filesystem::path& socketPath, int answers = 2,
                              Then then = Then::StaySilent);
    ~SilentLdapServer();
    SilentLdapServer(const SilentLdapServer&) = delete;
    SilentLdapServer& operator=(const SilentLdapServer&) = delete;

    std::atomic<int> answered = 0;

private:
    void Serve();

    int answers_;
    Then then_;
    int listener_ = -1;
    std::atomic<int> client_ = -1;
    std::thread thread_;
};

} // namespace doubles
