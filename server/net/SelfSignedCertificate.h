#pragma once

// A certificate the server can start with before the operator has one from a CA: a fresh P-256
// key and a self-signed certificate for the host name (and for localhost, so that local clients
// that trust the file can verify it). And what a certificate file holds, for the operator.

#include "server/net/TlsContext.h"

#include <string>
#include <vector>

namespace server::net {

// Makes a key and a certificate for `host` and writes them in place of `files` as
// WriteTlsFiles does. Throws std::runtime_error naming the file or the step that failed.
void WriteSelfSignedCertificate(const std::string& host, const TlsFiles& files);

// Replaces `files` with the PEM texts: each is written to a temporary file beside it, which is
// then renamed over it, so that a server reloading meanwhile reads the old file or the new one.
// Both are private (0600) from the start, the key above all; a missing folder is made 0700.
void WriteTlsFiles(const TlsFiles& files, const std::string& certificatePem,
                   const std::string& keyPem);

struct CertificateDescription {
    std::string subject; // RFC 2253, e.g. CN=mail01.example.com
    std::string issuer;
    std::vector<std::string> dnsNames;
    std::vector<std::string> ipAddresses;
    std::string notBefore; // "2026-12-09 23:00:00 UTC"
    std::string notAfter;
    std::string sha256Fingerprint; // "AB:01:..." over the DER form
    std::string keyType;           // "EC", "RSA", ...
    int keyBits = 0;
    bool selfSigned = false; // issued by its own key
};

// The first certificate of a PEM file. Throws std::runtime_error naming the file.
CertificateDescription DescribeCertificateFile(const std::filesystem::path& certificate);

} // namespace server::net
