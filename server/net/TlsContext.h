#pragma once

// The server's TLS settings: TLS 1.2 and 1.3 only, a current cipher list (ECDHE with AES-GCM or
// ChaCha20-Poly1305, forward secret and authenticated), no compression, no renegotiation, no
// session tickets. The certificate and key come from files; a key file that others may read is
// refused. Reload() reads them again (on SIGHUP): sessions begun before keep the context they
// began with, later ones get the new one.

#include <boost/asio/ssl/context.hpp>

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

namespace server::net {

struct TlsFiles {
    std::filesystem::path certificate; // PEM: the certificate, then any chain
    std::filesystem::path key;         // PEM: its private key
};

// A server context for the files; throws std::runtime_error with a message that names the file
// and what is wrong with it.
std::shared_ptr<boost::asio::ssl::context> MakeServerTlsContext(const TlsFiles& files);

class TlsCredentials {
public:
    explicit TlsCredentials(TlsFiles files);

    // The context new sessions use. From any thread.
    std::shared_ptr<boost::asio::ssl::context> Current() const;
    // Reads the files again; when that fails the current context stays and the error is thrown.
    void Reload();
    const TlsFiles& Files() const { return files_; }

private:
    TlsFiles files_;
    mutable std::mutex mutex_;
    std::shared_ptr<boost::asio::ssl::context> current_;
};

} // namespace server::net
