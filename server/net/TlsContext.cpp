// Building the server's TLS context with OpenSSL, and swapping it when the files change.

#include "server/net/TlsContext.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <stdexcept>
#include <sys/stat.h>

namespace server::net {

namespace {

namespace ssl = boost::asio::ssl;

// TLS 1.2's suites of the widely used "intermediate" profile; TLS 1.3's are OpenSSL's own.
constexpr const char* kCiphers =
    "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:ECDHE-ECDSA-AES256-GCM-SHA384:"
    "ECDHE-RSA-AES256-GCM-SHA384:ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305:"
    "DHE-RSA-AES128-GCM-SHA256:DHE-RSA-AES256-GCM-SHA384:DHE-RSA-CHACHA20-POLY1305";
constexpr const char* kGroups = "X25519:prime256v1:secp384r1";

// OpenSSL's own words for its last failure, which it queues.
std::string OpenSslError() {
    std::string text;
    while (const auto code = ERR_get_error()) {
        char buffer[256];
        ERR_error_string_n(code, buffer, sizeof buffer);
        text = buffer; // the last is the nearest to the cause
    }
    return text.empty() ? "unknown error" : text;
}

[[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error(what + ": " + OpenSslError());
}

void CheckKeyFile(const std::filesystem::path& key) {
    struct stat status {};
    if (stat(key.c_str(), &status) != 0)
        throw std::runtime_error("cannot read the TLS key file " + key.string());
    // Anyone who can read the key can be this server; anyone who can write it, choose its key.
    if (status.st_mode & (S_IROTH | S_IWOTH | S_IWGRP))
        throw std::runtime_error("the TLS key file " + key.string() +
                                 " may be read or written by others: chmod 600 it");
}

} // namespace

std::shared_ptr<ssl::context> MakeServerTlsContext(const TlsFiles& files) {
    CheckKeyFile(files.key);
    auto context = std::make_shared<ssl::context>(ssl::context::tls_server);
    SSL_CTX* native = context->native_handle();
    ERR_clear_error();
    if (SSL_CTX_set_min_proto_version(native, TLS1_2_VERSION) != 1 ||
        SSL_CTX_set_max_proto_version(native, TLS1_3_VERSION) != 1)
        Fail("cannot limit TLS to versions 1.2 and 1.3");
    // The server's order of the list decides, so that a client cannot talk it down to the
    // weakest suite both have.
    SSL_CTX_set_options(native, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION | SSL_OP_NO_TICKET |
                                    SSL_OP_SINGLE_DH_USE | SSL_OP_SINGLE_ECDH_USE |
                                    SSL_OP_CIPHER_SERVER_PREFERENCE);
    // SSL_OP_NO_TICKET leaves TLS 1.3 sending tickets for the server's session cache: none at
    // all, so that every session makes a full handshake and nothing of one outlives it.
    SSL_CTX_set_num_tickets(native, 0);
    SSL_CTX_set_session_cache_mode(native, SSL_SESS_CACHE_OFF);
    if (SSL_CTX_set_cipher_list(native, kCiphers) != 1)
        Fail("cannot set the TLS cipher list");
    if (SSL_CTX_set1_groups_list(native, kGroups) != 1)
        Fail("cannot set the TLS key exchange groups");
    SSL_CTX_set_dh_auto(native, 1);
    if (SSL_CTX_use_certificate_chain_file(native, files.certificate.c_str()) != 1)
        Fail("cannot use the TLS certificate file " + files.certificate.string());
    if (SSL_CTX_use_PrivateKey_file(native, files.key.c_str(), SSL_FILETYPE_PEM) != 1)
        Fail("cannot use the TLS key file " + files.key.string());
    if (SSL_CTX_check_private_key(native) != 1)
        Fail("the TLS key file " + files.key.string() + " does not belong to the certificate " +
             files.certificate.string());
    return context;
}

TlsCredentials::TlsCredentials(TlsFiles files)
    : files_(std::move(files)), current_(MakeServerTlsContext(files_)) {
}

std::shared_ptr<ssl::context> TlsCredentials::Current() const {
    std::lock_guard lock(mutex_);
    return current_;
}

void TlsCredentials::Reload() {
    auto fresh = MakeServerTlsContext(files_);
    std::lock_guard lock(mutex_);
    current_ = std::move(fresh);
}

} // namespace server::net
