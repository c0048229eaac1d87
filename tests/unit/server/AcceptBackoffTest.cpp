// Out of file descriptors, the accept loop waits instead of spinning on the connections that
// queue up, and takes them once descriptors are free again. Shown on the SMTP front, whose
// connections keep their socket until the client leaves.

#include "server/log/ServerLog.h"
#include "server/smtp/SmtpServer.h"

#include "SmtpTestBackend.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

using namespace smtptest;
namespace serverlog = server::log;

namespace {

std::size_t Logged(const serverlog::Capture& capture, const std::string& start) {
    return servertest::Starting(capture.Lines(), start).size();
}

double CpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

std::size_t OpenDescriptors() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count - 1; // the listing's own
}

// Whether the server has greeted the client on `fd` within `wait`.
bool Greeted(int fd, std::chrono::milliseconds wait) {
    pollfd polled{fd, POLLIN, 0};
    return ::poll(&polled, 1, static_cast<int>(wait.count())) == 1 && (polled.revents & POLLIN);
}

// The soft limit on descriptors, lowered for the test and restored however it ends.
class LoweredDescriptorLimit {
public:
    LoweredDescriptorLimit() { ::getrlimit(RLIMIT_NOFILE, &saved_); }
    ~LoweredDescriptorLimit() { Restore(); }
    void Set(rlim_t soft) {
        auto lowered = saved_;
        lowered.rlim_cur = soft;
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
    }
    void Restore() { ::setrlimit(RLIMIT_NOFILE, &saved_); }

private:
    rlimit saved_{};
};

TEST(AcceptBackoff, OutOfDescriptorsTheServerWaitsCheaplyAndResumesWhenSomeAreFree) {
    constexpr std::size_t kClients = 12, kRoom = 3;
    const serverlog::Capture capture;
    RunningServer running;
    const auto port = running.Port();

    // One session first, while descriptors are plenty: UndefinedBehaviorSanitizer checks each
    // class of object the first time it meets it, with a pipe of its own.
    {
        const int warm = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ASSERT_TRUE(servertest::ConnectLoopback(warm, port));
        ASSERT_TRUE(Greeted(warm, std::chrono::seconds(5)));
        ::close(warm);
        std::cout << "";
        for (int i = 0; i < 250 && !Logged(capture, "session-end "); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_TRUE(Logged(capture, "session-end ")) << "its socket is closed again";
    }

    // The clients' descriptors first; then room for only three accepted connections.
    std::vector<int> clients;
    for (std::size_t i = 0; i < kClients; ++i)
        clients.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    LoweredDescriptorLimit limit;
    limit.Set(OpenDescriptors() + kRoom);
    for (const int fd : clients)
        ASSERT_TRUE(servertest::ConnectLoopback(fd, port));
    std::vector<int> greeted, waiting;
    for (const int fd : clients)
        (Greeted(fd, std::chrono::milliseconds(greeted.size() < kRoom ? 2000 : 100)) ? greeted
                                                                                     : waiting)
            .push_back(fd);
    // About three (a descriptor the process held a moment ago may be free now).
    ASSERT_GE(greeted.size(), kRoom - 1);
    ASSERT_LE(greeted.size(), kRoom + 1);
    const auto room = greeted.size();

    // The others queue while no descriptor is free: the server must not spin on them.
    const auto cpuBefore = CpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const auto cpu = CpuSeconds() - cpuBefore;
    EXPECT_LT(cpu, 0.2);

    // The greeted clients leave: as many of those waiting are taken within the longest wait.
    for (const int fd : greeted)
        ::close(fd);
    std::size_t taken = 0;
    for (auto fd = waiting.begin(); fd != waiting.end() && taken < room;)
        if (Greeted(*fd, std::chrono::milliseconds(1500))) {
            ::close(*fd);
            fd = waiting.erase(fd);
            ++taken;
        } else {
            ++fd;
        }
    EXPECT_EQ(taken, room);

    // With the limit back, every one still waiting is served.
    limit.Restore();
    std::cout << "CPU time while out of descriptors for 2 s: " << cpu << " s\n";
    for (const int fd : waiting) {
        EXPECT_TRUE(Greeted(fd, std::chrono::milliseconds(2000)));
        ::close(fd);
    }
    const auto failedLines = Logged(capture, "accept-failed ");
    EXPECT_GE(failedLines, 1u);
    EXPECT_LE(failedLines, 4u) << "once per time it ran out, not once per try";
    EXPECT_GE(Logged(capture, "accept-resumed"), 1u);
}

} // namespace
