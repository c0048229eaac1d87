// Speaks just enough BER to answer a few LDAP requests, then falls silent or hangs up, so that the
// directory's timeouts and lost-connection failures can be tested.

#include "testsupport/SilentLdapServer.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

namespace doubles {

namespace {

// The message id and operation tag of the first whole message, removed from `pending`.
std::optional<std::pair<unsigned char, unsigned char>>
TakeMessage(std::vector<unsigned char>& pending) {
    if (pending.size() < 2)
        return std::nullopt;
    std::size_t header = 2;
    std::size_t length = pending[1];
    if (length & 0x80) {
        const std::size_t bytes = length & 0x7f;
        if (pending.size() < 2 + bytes)
            return std::nullopt;
        length = 0;
        for (std::size_t i = 0; i < bytes; ++i)
            length = (length << 8) | pending[2 + i];
        header += bytes;
    }
    if (pending.size() < header + length || length < 4)
        return std::nullopt;
    // INTEGER message id (one byte for the first ids), then the operation's tag.
    const unsigned char id = pending[header + 2];
    const unsigned char operation = pending[header + 3];
    pending.erase(pending.begin(), pending.begin() + static_cast<long>(header + length));
    return std::make_pair(id, operation);
}

} // namespace

SilentLdapServer::SilentLdapServer(const std::filesystem::path& socketPath, int answers, Then then)
    : answers_(answers), then_(then) {
    listener_ = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 4) != 0) {
        close(listener_);
        throw std::runtime_error("cannot listen on " + socketPath.string());
    }
    thread_ = std::thread([this] { Serve(); });
}

SilentLdapServer::~SilentLdapServer() {
    shutdown(listener_, SHUT_RDWR);
    // The connection stays open until here, so that its descriptor cannot be another's yet.
    if (const int client = client_; client >= 0)
        shutdown(client, SHUT_RDWR);
    thread_.join();
    if (client_ >= 0)
        close(client_);
    close(listener_);
}

void SilentLdapServer::Serve() {
    const int client = accept(listener_, nullptr, nullptr);
    if (client < 0)
        return;
    client_ = client;
    std::vector<unsigned char> pending;
    unsigned char buffer[4096];
    for (;;) {
        const auto got = read(client, buffer, sizeof buffer);
        if (got <= 0)
            break;
        pending.insert(pending.end(), buffer, buffer + got);
        while (auto message = TakeMessage(pending)) {
            const unsigned char id = message->first;
            const unsigned char operation = message->second;
            if (answered >= answers_)
                continue;
            // BindResponse (0x61) for a bind, SearchResultDone (0x65) for a search; success.
            const unsigned char tag = operation == 0x60 ? 0x61 : 0x65;
            const unsigned char reply[] = {0x30, 0x0c, 0x02, 0x01, id,   tag,  0x07,
                                           0x0a, 0x01, 0x00, 0x04, 0x00, 0x04, 0x00};
            if (write(client, reply, sizeof reply) != sizeof reply)
                break;
            ++answered;
            if (answered >= answers_ && then_ == Then::HangUp) {
                shutdown(client, SHUT_RDWR);
                return;
            }
        }
    }
}

} // namespace doubles
