#pragma once

// What the network tests of both fronts share: a gate that holds the backend calls a test
// chooses, a server on a loopback port with its network thread, and a client on a plain socket.

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace servertest {

// Holds its callers while closed, at most half a minute, so that a server that waits for it
// fails its test instead of hanging it; counts those it holds.
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool open = true;
    int waiting = 0;

    void Pass() {
        std::unique_lock lock(mutex);
        ++waiting;
        changed.notify_all();
        changed.wait_for(lock, std::chrono::seconds(30), [&] { return open; });
        --waiting;
        changed.notify_all();
    }
    void Set(bool value) {
        std::lock_guard lock(mutex);
        open = value;
        changed.notify_all();
    }
    int Waiting() {
        std::lock_guard lock(mutex);
        return waiting;
    }
    // Whether that many callers are held at once (given a minute to get there).
    bool AwaitWaiting(int count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::minutes(1), [&] { return waiting >= count; });
    }
};

// A server of one front (imap::Server, smtp::Server) on a loopback port, whose sessions each get
// the backend `make(shared)` returns. The gates of `shared` are opened (its OpenGates) before
// the server stops, so that no held call keeps it from stopping.
template <class ServerType, class Shared> class RunningServer {
public:
    template <class Settings, class Make>
    RunningServer(Settings settings, Make make)
        : server_(io_,
                  boost::asio::ip::tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), 0),
                  std::move(settings), [this, make] { return make(shared); }) {
        server_.Start();
        thread_ = std::thread([this] { io_.run(); });
    }
    ~RunningServer() {
        shared.OpenGates();
        if (!ended_.valid())
            Stop();
        ended_.wait();
        server_.Join();
    }

    unsigned short Port() const { return server_.LocalEndpoint().port(); }
    // Stops the server; true when its network thread ended within `within`.
    bool Stop(std::chrono::milliseconds within = std::chrono::seconds(10)) {
        boost::asio::post(io_, [this] { server_.Stop(); });
        ended_ = std::async(std::launch::async, [this] { thread_.join(); });
        return ended_.wait_for(within) == std::future_status::ready;
    }

    Shared shared;

private:
    boost::asio::io_context io_;
    ServerType server_;
    std::thread thread_;
    std::future<void> ended_;
};

// Those of `lines` (a log capture's, say) that start with `prefix`.
inline std::vector<std::string> Starting(const std::vector<std::string>& lines,
                                         const std::string& prefix) {
    std::vector<std::string> found;
    for (const auto& line : lines)
        if (line.starts_with(prefix))
            found.push_back(line);
    return found;
}

inline bool ConnectLoopback(int fd, unsigned short port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

// A client on a plain socket to `port` on loopback, with socket buffers of `buffer` octets when
// given (for a client that reads slowly, or not at all); reads give up after 10 seconds.
class Client {
public:
    explicit Client(unsigned short port, int buffer = 0)
        : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        if (buffer > 0) {
            ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
            ::setsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
        }
        timeval wait{10, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        connected_ = ConnectLoopback(fd_, port);
    }
    // A client of the unix socket at `path`.
    explicit Client(const std::string& path)
        : fd_(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~Client() { ::close(fd_); }

    bool Connected() const { return connected_; }
    bool Send(const std::string& bytes) {
        return connected_ && ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
                                 static_cast<ssize_t>(bytes.size());
    }
    // Sends as much of `bytes`, over and over, as the connection takes now; how much that was.
    std::size_t Push(const std::string& bytes) {
        std::size_t sent = 0;
        for (;;) {
            const auto n = ::send(fd_, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n <= 0)
                return sent;
            sent += static_cast<std::size_t>(n);
        }
    }
    // The next line with its CRLF; empty once the server has closed (or said nothing for 10 s).
    std::string Line() {
        for (;;) {
            if (const auto end = buffer_.find("\r\n"); end != std::string::npos) {
                auto line = buffer_.substr(0, end + 2);
                buffer_.erase(0, end + 2);
                return line;
            }
            char chunk[65536];
            const auto n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0)
                return {};
            buffer_.append(chunk, static_cast<std::size_t>(n));
        }
    }
    // The lines up to the one that starts with `prefix`, which is returned; empty if none came.
    std::string LineStarting(const std::string& prefix) {
        for (auto line = Line(); !line.empty(); line = Line())
            if (line.starts_with(prefix))
                return line;
        return {};
    }

private:
    int fd_;
    bool connected_ = false;
    std::string buffer_;
};

} // namespace servertest
