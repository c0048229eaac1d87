// The socket file of a front on a unix socket: while a local user who owns the socket's folder
// keeps swapping the socket for a link to a root-owned file, no setup ever changes that file;
// the socket ends up with its group and mode, replaces a stale one, and refuses a live one or
// another kind of file.

#include "server/net/UnixSocket.h"
#include "testsupport/ScopedServerFolder.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/local/stream_protocol.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace net = server::net;
namespace asio = boost::asio;
namespace fs = std::filesystem;
using Local = asio::local::stream_protocol;

namespace {

// A folder of its own under /tmp, for the socket.
class SocketFolder : public ::testing::Test {
protected:
    // The socket set up as the LMTP front sets it up: bound where the file says, then moved.
    std::optional<Local::acceptor> Listen(const std::string& group) {
        net::UnixSocketFile file(socket, group);
        std::optional<Local::acceptor> acceptor;
        acceptor.emplace(io, Local::endpoint(file.BindPath()));
        file.MoveIntoPlace();
        return acceptor;
    }

    // A group the test may give a file to: another than its own when it runs as root.
    static std::string SomeGroup() { return std::to_string(::geteuid() == 0 ? 4242 : ::getgid()); }

    // The folder's entries besides the socket (the private folder must not stay behind).
    std::vector<std::string> OtherEntries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder))
            if (entry.path() != socket)
                names.push_back(entry.path().filename().string());
        return names;
    }

    asio::io_context io;
    testsupport::ScopedServerFolder scoped;
    const fs::path folder = scoped.Path();
    const fs::path socket = folder / "lmtp";
};

struct stat StatusOf(const fs::path& path) {
    struct stat status {};
    EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
    return status;
}

TEST_F(SocketFolder, ASwappedSocketNeverTurnsTheSetupOntoAnotherFile) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "the swap only matters when the front runs as root";
    // The root-owned file an attacker wants: the swapper's link points at it.
    const auto target = fs::temp_directory_path() / ("lvsock-target-" + std::to_string(getpid()));
    std::ofstream(target) << "secret\n";
    ASSERT_EQ(::chown(target.c_str(), 0, 0), 0);
    ASSERT_EQ(::chmod(target.c_str(), 0600), 0);

    // As soon as a socket shows at the path, it is replaced by a link to the target, in one
    // rename as an attacker would do it. The swapper sleeps until a name is made in the folder,
    // as an attacker's would, so that the scheduler runs it the moment the socket is bound.
    const int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, folder.c_str(), IN_CREATE | IN_MOVED_TO), 0);
    std::atomic<bool> stop = false;
    std::atomic<int> swaps = 0;
    std::thread swapper([&] {
        const auto link = folder / "swap";
        char events[4096];
        while (!stop) {
            // The link is ready before the socket shows, so that the swap is one call away.
            if (!fs::is_symlink(fs::symlink_status(link)))
                fs::create_symlink(target, link);
            struct stat status {};
            if (::lstat(socket.c_str(), &status) == 0 && S_ISSOCK(status.st_mode) &&
                ::rename(link.c_str(), socket.c_str()) == 0) {
                ++swaps;
                continue;
            }
            pollfd ready{watch, POLLIN, 0};
            if (::poll(&ready, 1, 10) > 0)
                while (::read(watch, events, sizeof events) > 0) {
                }
        }
    });

    constexpr int kSetups = 200;
    for (int setup = 0; setup < kSetups; ++setup) {
        fs::remove(socket);
        const int before = swaps;
        try {
            auto listening = Listen(SomeGroup());
        } catch (const std::exception& error) {
            ADD_FAILURE() << "setup " << setup << ": " << error.what();
        }
        // Every setup is swapped before the next one starts.
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (swaps == before && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::yield();
    }
    stop = true;
    swapper.join();
    ::close(watch);
    const auto status = StatusOf(target);
    fs::remove(target);
    EXPECT_EQ(status.st_uid, 0u);
    EXPECT_EQ(status.st_gid, 0u);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    EXPECT_EQ(swaps, kSetups) << "every setup was swapped";
}

struct AccessCase {
    const char* name;
    bool withGroup;
    mode_t mode;
};

class SocketAccess : public SocketFolder, public ::testing::WithParamInterface<AccessCase> {};

TEST_P(SocketAccess, TheSocketHasItsModeAndGroupAndAnswers) {
    const auto group = GetParam().withGroup ? SomeGroup() : std::string();
    auto listening = Listen(group);
    const auto status = StatusOf(socket);
    EXPECT_TRUE(S_ISSOCK(status.st_mode));
    EXPECT_EQ(status.st_mode & 07777, GetParam().mode);
    EXPECT_EQ(status.st_uid, ::geteuid());
    EXPECT_EQ(status.st_gid,
              GetParam().withGroup ? static_cast<gid_t>(std::stoul(group)) : ::getegid());
    EXPECT_EQ(OtherEntries(), std::vector<std::string>{});
    Local::socket client(io);
    boost::system::error_code error;
    client.connect(Local::endpoint(socket.string()), error);
    EXPECT_FALSE(error) << error.message();
}

INSTANTIATE_TEST_SUITE_P(, SocketAccess,
                         ::testing::Values(AccessCase{"OwnerOnly", false, 0600},
                                           AccessCase{"OwnerAndGroup", true, 0660}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SocketFolder, AStaleSocketIsReplaced) {
    { auto died = Listen(""); } // closed: the file stays, as a server that died leaves it
    const auto stale = StatusOf(socket);
    ASSERT_TRUE(S_ISSOCK(stale.st_mode));
    auto listening = Listen("");
    EXPECT_TRUE(S_ISSOCK(StatusOf(socket).st_mode));
    // The stale one would refuse the connection.
    Local::socket client(io);
    boost::system::error_code error;
    client.connect(Local::endpoint(socket.string()), error);
    EXPECT_FALSE(error) << error.message();
    EXPECT_EQ(OtherEntries(), std::vector<std::string>{});
}

// What is at the socket's path already.
enum class Occupant { LiveServer, File, Link, Folder };

struct RefusedCase {
    const char* name;
    Occupant occupant;
    const char* message;
};

class RefusedPath : public SocketFolder, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedPath, IsLeftAsItIsAndNothingIsMade) {
    std::optional<Local::acceptor> live;
    switch (GetParam().occupant) {
    case Occupant::LiveServer:
        live.emplace(io, Local::endpoint(socket.string()));
        break;
    case Occupant::File:
        std::ofstream(socket) << "not a socket\n";
        break;
    case Occupant::Link:
        fs::create_symlink("/etc/hostname", socket);
        break;
    case Occupant::Folder:
        fs::create_directory(socket);
        break;
    }
    const auto before = StatusOf(socket);
    try {
        net::UnixSocketFile file(socket, "");
        ADD_FAILURE() << "the path was taken";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find(GetParam().message), std::string::npos)
            << error.what();
    }
    const auto after = StatusOf(socket);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(OtherEntries(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    , RefusedPath,
    ::testing::Values(RefusedCase{"ALiveServer", Occupant::LiveServer, "already listens"},
                      RefusedCase{"AFile", Occupant::File, "is not a socket"},
                      RefusedCase{"ALink", Occupant::Link, "is not a socket"},
                      RefusedCase{"AFolder", Occupant::Folder, "is not a socket"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SocketFolder, AnUnknownGroupFailsBeforeAnythingIsMade) {
    EXPECT_THROW(net::UnixSocketFile(socket, "no-such-group-here"), std::runtime_error);
    EXPECT_FALSE(fs::exists(fs::symlink_status(socket)));
    EXPECT_EQ(OtherEntries(), std::vector<std::string>{});
}

TEST_F(SocketFolder, ASetupThatEndsBeforeTheMoveLeavesNothing) {
    {
        net::UnixSocketFile file(socket, "");
        Local::acceptor bound(io, Local::endpoint(file.BindPath()));
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(socket)));
    EXPECT_EQ(OtherEntries(), std::vector<std::string>{});
}

} // namespace
