// Reads the fronts' --listen address and warns when a front is exposed beyond the loopback
// interface.

#include "server/net/ListenAddress.h"

#include <iostream>

namespace server::net {

namespace asio = boost::asio;

asio::ip::tcp::endpoint ParseListenAddress(const std::string& text, const std::string& example) {
    const auto colon = text.rfind(':');
    const auto usage =
        "--listen needs an IP address and a port, such as " + example + ", not \"" + text + "\"";
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size())
        throw BadListenAddress(usage);
    auto host = text.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    const auto portText = text.substr(colon + 1);
    if (portText.find_first_not_of("0123456789") != std::string::npos || portText.size() > 5 ||
        std::stoul(portText) > 65535)
        throw BadListenAddress(usage);
    boost::system::error_code error;
    const auto address = asio::ip::make_address(host, error);
    if (error)
        throw BadListenAddress(usage);
    return {address, static_cast<unsigned short>(std::stoul(portText))};
}

void WarnIfNotLoopback(const std::string& command, const asio::ip::address& address,
                       const std::string& reach) {
    if (!address.is_loopback())
        std::cerr << "exhost " << command << ": warning: " << address.to_string()
                  << " is not a loopback address; anyone who can reach it can " << reach << "\n";
}

} // namespace server::net
