// The accept loop and the session limits of a front's listening socket.

#include "server/net/Listener.h"

#include "server/log/ServerLog.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>

namespace server::net {

namespace asio = boost::asio;
using asio::ip::tcp;
using boost::system::error_code;

namespace {

bool IsInternet(const Stream::endpoint& endpoint) {
    const auto family = endpoint.protocol().family();
    return family == AF_INET || family == AF_INET6;
}

// The IP address and port of an internet endpoint; unspecified for a unix socket's.
tcp::endpoint AsTcp(const Stream::endpoint& endpoint) {
    tcp::endpoint internet;
    if (IsInternet(endpoint) && endpoint.size() <= internet.capacity()) {
        std::memcpy(internet.data(), endpoint.data(), endpoint.size());
        internet.resize(endpoint.size());
    }
    return internet;
}

// A connection that failed before it was accepted (Linux passes its network error on to
// accept): the next one may work at once.
bool FailedConnection(const error_code& error) {
    switch (error.value()) {
    case ECONNABORTED:
    case EPROTO:
    case ENETDOWN:
    case ENOPROTOOPT:
    case EHOSTDOWN:
    case ENONET:
    case EHOSTUNREACH:
    case EOPNOTSUPP:
    case ENETUNREACH:
    case EINTR:
    case EAGAIN:
        return error.category() == boost::system::system_category();
    default:
        return false;
    }
}

constexpr std::chrono::milliseconds kFirstRetry{100};
constexpr std::chrono::milliseconds kLongestRetry{1000};

} // namespace

Listener::Listener(asio::io_context& io, const Stream::endpoint& endpoint, SessionLimits limits,
                   MakeConnection make)
    : io_(io), acceptor_(io), limits_(limits), make_(std::move(make)), retry_(io),
      workers_(limits.maxSessions) {
    acceptor_.open(endpoint.protocol());
    if (IsInternet(endpoint))
        acceptor_.set_option(asio::socket_base::reuse_address(true));
    acceptor_.bind(endpoint);
    acceptor_.listen();
}

Listener::~Listener() {
    workers_.Join();
}

tcp::endpoint Listener::LocalEndpoint() const {
    return AsTcp(acceptor_.local_endpoint());
}

void Listener::Start() {
    keepRunning_.emplace(io_.get_executor());
    Accept();
}

void Listener::Accept() {
    acceptor_.async_accept([this](error_code error, Stream::socket socket) {
        if (stopping_ || error == asio::error::operation_aborted)
            return;
        if (error && !FailedConnection(error))
            return AcceptFailed(error);
        if (!error) {
            if (retryDelay_.count() > 0)
                log::Event(log::Severity::Info, "accept-resumed");
            retryDelay_ = {};
            Admit(std::move(socket));
        }
        Accept();
    });
}

// Out of descriptors (EMFILE, ENFILE), buffers or memory: trying again at once would fail at
// once, as often as the queued connection makes the socket readable.
void Listener::AcceptFailed(const error_code& error) {
    if (retryDelay_.count() == 0) {
        retryDelay_ = kFirstRetry;
        log::Event(log::Severity::Error, "accept-failed")
            .Field("reason", error.message())
            .Field("retry_ms", static_cast<std::int64_t>(retryDelay_.count()));
    } else {
        retryDelay_ = std::min(retryDelay_ * 2, kLongestRetry);
    }
    retry_.expires_after(retryDelay_);
    retry_.async_wait([this](error_code waited) {
        if (!waited && !stopping_)
            Accept();
    });
}

std::string ClientName(const asio::ip::address& client) {
    // Admit gives a unix socket's client (and one whose address cannot be read) no address.
    return client.is_unspecified() ? "local" : client.to_string();
}

bool ClientIsLocal(const std::string& clientName) {
    if (clientName == "local")
        return true;
    error_code invalid;
    const auto address = asio::ip::make_address(clientName, invalid);
    if (invalid)
        return false;
    if (address.is_v6() && address.to_v6().is_v4_mapped())
        return address.to_v6().to_v4().is_loopback();
    return address.is_loopback();
}

void Listener::Admit(Stream::socket socket) {
    error_code unknown;
    const auto remote = socket.remote_endpoint(unknown);
    const auto client = unknown ? asio::ip::address() : AsTcp(remote).address();
    if (!client.is_unspecified()) {
        // Replies and TLS flights go out as they are written: held back for the client's
        // delayed acknowledgement, a short write after another (a greeting after the last
        // handshake record) waits 40 ms.
        error_code ignored;
        socket.set_option(asio::ip::tcp::no_delay(true), ignored);
    }
    auto connection = make_(std::move(socket), client);
    connections_.emplace(connection, client);
    const auto fromClient = ++sessionsPerClient_[client];
    if (connections_.size() > limits_.maxSessions)
        connection->Refuse(Refusal::TooManySessions, client);
    else if (fromClient > limits_.maxSessionsPerClient && !client.is_unspecified())
        connection->Refuse(Refusal::TooManyFromClient, client);
    else
        connection->Begin();
}

void Listener::Stop() {
    error_code ignored;
    acceptor_.close(ignored);
    retry_.cancel();
    if (stopping_)
        return;
    stopping_ = true;
    // Stopping may close connections, which takes them out of the map.
    const auto connections = connections_;
    for (const auto& entry : connections)
        entry.first->Stop();
    ReleaseWhenIdle();
}

void Listener::Ended(Stream::socket& socket,
                     const std::shared_ptr<AcceptedConnection>& connection) {
    error_code ignored;
    socket.shutdown(Stream::socket::shutdown_both, ignored);
    socket.close(ignored);
    const auto found = connections_.find(connection);
    if (found == connections_.end())
        return;
    const auto client = sessionsPerClient_.find(found->second);
    if (client != sessionsPerClient_.end() && --client->second == 0)
        sessionsPerClient_.erase(client);
    connections_.erase(found);
    ReleaseWhenIdle();
}

void Listener::ReleaseWhenIdle() {
    if (stopping_ && connections_.empty())
        keepRunning_.reset();
}

} // namespace server::net
