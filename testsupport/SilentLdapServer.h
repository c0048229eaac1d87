#pragma once

// A stand-in LDAP server on a Unix socket that speaks just enough LDAP: it answers the first
// `answers` requests (a bind with BindResponse, anything else with an empty SearchResultDone),
// both with success, and then either stays silent on everything after, holding the connection
// open, as a server does that accepted a request and then stopped answering, or hangs up, as a
// server does that dies between two requests. Destroying it drops the connection, which ends any
// wait for an answer.

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

    // How many requests were answered.
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
