#pragma once

// The --listen option of the server fronts: an IP address and a port.

#include <boost/asio/ip/tcp.hpp>

#include <stdexcept>
#include <string>

namespace server::net {

// A --listen value that is not an address and a port.
class BadListenAddress : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// "127.0.0.1:1143", "[::1]:1143"; port 0 picks a free one. Fails with BadListenAddress naming
// `example` otherwise.
boost::asio::ip::tcp::endpoint ParseListenAddress(const std::string& text,
                                                  const std::string& example);

// Warns on standard error when the address is not a loopback address: anyone who can reach it
// can then do what `reach` says.
void WarnIfNotLoopback(const std::string& command, const boost::asio::ip::address& address,
                       const std::string& reach);

} // namespace server::net
