#pragma once

// A front's server: the shared listener, the front's settings and a backend for every session.
// The front's own connection type is made from the server and its accepted socket
// (ConnectionsOf).

#include "server/net/Listener.h"

#include <functional>
#include <memory>

namespace server::net {

// FrontSettings has maxSessions and maxSessionsPerClient.
template <class FrontSettings, class Backend> class FrontServer : public Listener {
public:
    using BackendFactory = std::function<std::unique_ptr<Backend>()>;

    FrontServer(boost::asio::io_context& io, const Stream::endpoint& endpoint,
                FrontSettings settings, BackendFactory backends, MakeConnection make)
        : Listener(io, endpoint, {settings.maxSessions, settings.maxSessionsPerClient},
                   std::move(make)),
          settings_(std::move(settings)), backends_(std::move(backends)) {}
    // Work on the pool uses the settings and the backends: it ends first.
    ~FrontServer() { Join(); }

    const FrontSettings& Settings() const { return settings_; }
    std::unique_ptr<Backend> NewBackend() const { return backends_(); }

private:
    FrontSettings settings_;
    BackendFactory backends_;
};

} // namespace server::net
