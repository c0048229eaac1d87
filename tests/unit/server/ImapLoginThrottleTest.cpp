// The IMAP session with the server's login throttle: a password is checked only once the
// throttle lets the try through (the throttle's clock is the test's, so nothing but the test
// lets it through), a wait cut short checks nothing, the owner elsewhere is not held up, and a
// try that waited is logged.

#include "ImapTestBackend.h"

#include "server/imap/ImapSession.h"
#include "server/log/ServerLog.h"
#include "server/login/LoginThrottle.h"

#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <regex>

using namespace imaptest;
namespace login = server::login;
using std::chrono::milliseconds;

namespace {

class ImapLoginThrottleTest : public ::testing::Test {
protected:
    ImapLoginThrottleTest() {
        // One free try, then 375 ms of the test's clock before the next.
        settings.loginThrottle = std::make_shared<login::LoginThrottle>(
            login::LoginThrottleSettings{.triesPerMinute = 20, .freeTries = 1},
            [this] { return Now(); });
        settings.failedLoginDelay = milliseconds(0);
    }
    login::LoginThrottle::Clock::time_point Now() {
        std::lock_guard lock(clockMutex);
        return now;
    }
    void Advance(milliseconds by) {
        std::lock_guard lock(clockMutex);
        now += by;
    }
    // The session's answer, once it is given.
    static std::future<std::string> Start(Session& session, std::string input) {
        return std::async(std::launch::async, [&session, input = std::move(input)] {
            return session.Receive(input).bytes;
        });
    }
    // Whether it is given within `within`; if not, `session` (when named) gives up, so that a
    // failing test ends.
    static bool Answered(std::future<std::string>& answer, milliseconds within,
                         Session* session = nullptr) {
        const bool ready = answer.wait_for(within) == std::future_status::ready;
        if (!ready && session)
            session->Interrupt();
        return ready;
    }

    TestBackend backend;
    SessionSettings settings;
    std::mutex clockMutex;
    login::LoginThrottle::Clock::time_point now{std::chrono::hours(1)};
};

TEST_F(ImapLoginThrottleTest, APasswordIsCheckedOnlyOnceTheThrottleLetsTheTryThrough) {
    // The second try from the address, on another session, by each road to a password.
    struct Road {
        const char* name;
        std::string user;
        std::vector<std::string> lines;
    };
    const Road roads[] = {
        {"login", "alice", {"b LOGIN alice nope\r\n"}},
        {"plain with an initial response", "bob", {"b AUTHENTICATE PLAIN AGJvYgBub3Bl\r\n"}},
        {"plain after a continuation",
         "carol",
         {"b AUTHENTICATE PLAIN\r\n", "AGNhcm9sAG5vcGU=\r\n"}},
    };
    int host = 10;
    for (const auto& road : roads) {
        SCOPED_TRACE(road.name);
        const auto client = "192.0.2." + std::to_string(++host);
        Session first(backend, settings, client);
        const int before = backend.shared.logins;
        EXPECT_EQ(first.Receive("a LOGIN " + road.user + " nope\r\n").bytes.substr(0, 30),
                  "a NO [AUTHENTICATIONFAILED] Wr");
        EXPECT_EQ(backend.shared.logins, before + 1);

        server::log::Capture capture;
        Session second(backend, settings, client);
        for (std::size_t i = 0; i + 1 < road.lines.size(); ++i)
            second.Receive(road.lines[i]);
        auto answer = Start(second, road.lines.back());
        // The throttle's clock stands still: however long the session waits, nothing is checked.
        EXPECT_FALSE(Answered(answer, milliseconds(800)));
        EXPECT_EQ(backend.shared.logins, before + 1);
        Advance(milliseconds(375));
        ASSERT_TRUE(Answered(answer, milliseconds(5000), &second));
        EXPECT_EQ(answer.get().substr(0, 30), "b NO [AUTHENTICATIONFAILED] Wr");
        EXPECT_EQ(backend.shared.logins, before + 2);
        const auto logged = servertest::Starting(capture.Lines(), "login-throttled ");
        ASSERT_EQ(logged.size(), 1u);
        EXPECT_TRUE(std::regex_match(
            logged[0], std::regex("login-throttled session=[0-9A-F]{16} client=" + client +
                                  " user=" + road.user + R"( ms=\d+ outcome=checked)")))
            << logged[0];
    }
}

TEST_F(ImapLoginThrottleTest, AWaitCutShortChecksNothingAndSaysNothingOfThePassword) {
    Session first(backend, settings, "192.0.2.7");
    first.Receive("a LOGIN alice nope\r\n");
    server::log::Capture capture;
    Session second(backend, settings, "192.0.2.7");
    auto answer = Start(second, "b LOGIN alice secret\r\n");
    EXPECT_FALSE(Answered(answer, milliseconds(100)));
    const auto cut = std::chrono::steady_clock::now();
    second.Interrupt(); // the connection closed, or the server stops
    ASSERT_TRUE(Answered(answer, milliseconds(2000), &second));
    EXPECT_LT(std::chrono::steady_clock::now() - cut, milliseconds(300));
    EXPECT_EQ(answer.get(), "b NO [UNAVAILABLE] Login not checked, try again later\r\n");
    EXPECT_EQ(backend.shared.logins, 1);
    // Interrupted for good: a later try is not checked either, and does not wait.
    Advance(milliseconds(10000));
    EXPECT_EQ(second.Receive("c LOGIN alice secret\r\n").bytes,
              "c NO [UNAVAILABLE] Login not checked, try again later\r\n");
    EXPECT_EQ(backend.shared.logins, 1);
    const auto lines = servertest::Starting(capture.Lines(), "login-throttled ");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(std::regex_match(
        lines[0],
        std::regex(R"(login-throttled session=[0-9A-F]{16} client=192\.0\.2\.7 user=alice ms=\d+ )"
                   R"(outcome=abandoned)")))
        << lines[0];
    EXPECT_EQ(lines[0].find("secret"), std::string::npos);
}

TEST_F(ImapLoginThrottleTest, TheOwnerElsewhereGetsInAtOnceAndASuccessClearsHerTries) {
    Session attacker(backend, settings, "192.0.2.7");
    attacker.Receive("a LOGIN alice nope\r\n");
    // Her first session and her client's next ones, from the same address; the throttle's clock
    // stands still, so any of them that had to wait would never be answered.
    for (int i = 0; i < 4; ++i) {
        Session owner(backend, settings, "198.51.100.1");
        auto answer = Start(owner, "a LOGIN alice secret\r\n");
        ASSERT_TRUE(Answered(answer, milliseconds(2000), &owner)) << i;
        EXPECT_EQ(answer.get().substr(0, 4), "a OK") << i;
    }
    EXPECT_EQ(backend.shared.logins, 5);
}

// Her address and her logon name are one account's names: logging in under one clears what her
// address tried under the other (the clock stands still at the end: a try that waited would
// never be answered).
TEST_F(ImapLoginThrottleTest, TheTriesUnderEachOfAnAccountsNamesCountAsTheAccounts) {
    const auto answered = [this](const std::string& line) {
        Session session(backend, settings, "192.0.2.7");
        auto answer = Start(session, line);
        if (!Answered(answer, milliseconds(2000), &session))
            return std::string("not answered");
        return answer.get().substr(0, 4);
    };
    EXPECT_EQ(answered("a LOGIN alice@example.com nope\r\n"), "a NO");
    Advance(milliseconds(375));
    EXPECT_EQ(answered("b LOGIN alice@example.com nope\r\n"), "b NO");
    Advance(milliseconds(750));
    EXPECT_EQ(answered("c LOGIN alice secret\r\n"), "c OK");
    EXPECT_EQ(answered("d LOGIN alice secret\r\n"), "d OK");
}

} // namespace
