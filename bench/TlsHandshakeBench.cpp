// Full TLS handshakes on one core: the server's context as the fronts make it (its certificate a
// fresh self-signed P-256 one), a client with the library's defaults, both ends in this thread
// over a pair of memory BIOs, so that the figure is the cryptography and nothing of the network.
// Each handshake is new: the server sends no tickets and keeps no sessions to resume.

#include "server/net/SelfSignedCertificate.h"
#include "server/net/TlsContext.h"
#include "testsupport/ScopedServerFolder.h"

#include <benchmark/benchmark.h>

#include <openssl/bio.h>
#include <openssl/ssl.h>

#include <memory>
#include <stdexcept>

namespace {

struct SslFree {
    void operator()(SSL* ssl) const { SSL_free(ssl); }
};
using Ssl = std::unique_ptr<SSL, SslFree>;

// Both ends of a connection, joined by BIOs the ends own.
std::pair<Ssl, Ssl> Joined(SSL_CTX* server, SSL_CTX* client) {
    Ssl accepting(SSL_new(server)), connecting(SSL_new(client));
    BIO *serverSide = nullptr, *clientSide = nullptr;
    if (!accepting || !connecting || BIO_new_bio_pair(&serverSide, 0, &clientSide, 0) != 1)
        throw std::runtime_error("cannot make the TLS pair");
    SSL_set_bio(accepting.get(), serverSide, serverSide);
    SSL_set_bio(connecting.get(), clientSide, clientSide);
    SSL_set_accept_state(accepting.get());
    SSL_set_connect_state(connecting.get());
    return {std::move(accepting), std::move(connecting)};
}

// Turns both ends until each has finished its handshake.
void Handshake(SSL* server, SSL* client) {
    for (int turn = 0; turn < 100; ++turn) {
        const int clientDone = SSL_do_handshake(client);
        const int serverDone = SSL_do_handshake(server);
        if (clientDone == 1 && serverDone == 1)
            return;
        for (const auto& [ssl, result] : {std::pair{client, clientDone}, {server, serverDone}})
            if (result != 1 && SSL_get_error(ssl, result) != SSL_ERROR_WANT_READ)
                throw std::runtime_error("the TLS handshake failed");
    }
    throw std::runtime_error("the TLS handshake did not end");
}

void BM_FullHandshake(benchmark::State& state) {
    testsupport::ScopedServerFolder folder;
    const server::net::TlsFiles files{folder.Path() / "tls" / "server.crt",
                                      folder.Path() / "tls" / "server.key"};
    server::net::WriteSelfSignedCertificate("mail01.example.com", files);
    const auto server = server::net::MakeServerTlsContext(files);
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> client(SSL_CTX_new(TLS_client_method()),
                                                             SSL_CTX_free);
    for (auto _ : state) {
        auto [accepting, connecting] = Joined(server->native_handle(), client.get());
        Handshake(accepting.get(), connecting.get());
        benchmark::DoNotOptimize(SSL_get_current_cipher(accepting.get()));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FullHandshake)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
