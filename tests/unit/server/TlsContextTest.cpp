// The server's TLS files: a self-signed pair loads; a key others may read or write, a key of
// another pair and a missing file are refused naming the file; a reload takes a new pair and
// keeps the old context when the new files are broken.

#include "server/net/TlsContext.h"
#include "server/net/SelfSignedCertificate.h"
#include "testsupport/FileText.h"
#include "testsupport/ScopedServerFolder.h"

#include <openssl/ssl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>

namespace net = server::net;
namespace fs = std::filesystem;

namespace {

class TlsFilesTest : public ::testing::Test {
protected:
    net::TlsFiles Pair(const std::string& name, const std::string& host = "mail01.example.com") {
        const net::TlsFiles files{folder / name / "server.crt", folder / name / "server.key"};
        net::WriteSelfSignedCertificate(host, files);
        return files;
    }

    testsupport::ScopedServerFolder scoped;
    const fs::path folder = scoped.Path();
};

// What the call threw; empty when it returned.
template <typename Call> std::string ErrorOf(Call call) {
    try {
        call();
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return {};
}

// The SHA-256 fingerprint of the certificate a context serves, as DescribeCertificateFile
// writes it.
std::string ServedFingerprint(const std::shared_ptr<boost::asio::ssl::context>& context) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    X509_digest(SSL_CTX_get0_certificate(context->native_handle()), EVP_sha256(), digest, &size);
    std::string text;
    for (unsigned int i = 0; i < size; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, i ? ":%02X" : "%02X", digest[i]);
        text += hex;
    }
    return text;
}

TEST_F(TlsFilesTest, AGeneratedPairLoadsAndSaysWhatItIs) {
    // With every permission masked, the modes must still come out as they should.
    const auto previous = ::umask(0777);
    const auto files = Pair("tls", "mail01.example.com");
    ::umask(previous);
    EXPECT_EQ(testsupport::FileMode(files.key), 0600u);
    EXPECT_EQ(testsupport::FileMode(files.certificate), 0600u);
    EXPECT_EQ(testsupport::FileMode(folder / "tls"), 0700u);
    EXPECT_EQ(ErrorOf([&] { net::MakeServerTlsContext(files); }), "");

    const auto about = net::DescribeCertificateFile(files.certificate);
    EXPECT_EQ(about.subject, "CN=mail01.example.com");
    EXPECT_EQ(about.issuer, about.subject);
    EXPECT_TRUE(about.selfSigned);
    EXPECT_EQ(about.dnsNames, (std::vector<std::string>{"mail01.example.com", "localhost"}));
    EXPECT_EQ(about.ipAddresses, (std::vector<std::string>{"127.0.0.1", "::1"}));
    EXPECT_EQ(about.keyType, "EC");
    EXPECT_EQ(about.keyBits, 256);
    EXPECT_LT(about.notBefore, about.notAfter);
    EXPECT_EQ(about.sha256Fingerprint, ServedFingerprint(net::MakeServerTlsContext(files)));
    // Made again for the same name, it is another certificate.
    EXPECT_NE(net::DescribeCertificateFile(Pair("again").certificate).sha256Fingerprint,
              about.sha256Fingerprint);
}

// A pair is taken, or refused naming the file: a key that others may read or that its group or
// others may write, a key of another pair, a missing file.
TEST_F(TlsFilesTest, APairIsTakenOrRefusedNamingTheFile) {
    const auto files = Pair("tls");
    const auto other = Pair("other");
    const auto byOthers = files.key.string() + " may be read or written by others";
    const auto none = [&](const char* name) { return (folder / name).string(); };
    const struct {
        net::TlsFiles files;
        mode_t keyMode;
        std::string says; // empty: taken
    } rows[] = {
        {files, 0600, ""},
        {files, 0640, ""},
        {files, 0400, ""},
        {files, 0644, byOthers},
        {files, 0660, byOthers},
        {files, 0602, byOthers},
        {files, 0604, byOthers},
        {{files.certificate, other.key}, 0600, "cannot use the TLS key file " + other.key.string()},
        {{none("none.crt"), files.key},
         0600,
         "cannot use the TLS certificate file " + none("none.crt")},
        {{files.key, files.key}, 0600, "cannot use the TLS certificate file " + files.key.string()},
        {{files.certificate, none("none.key")}, 0600, "TLS key file " + none("none.key")}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.says);
        fs::permissions(files.key, static_cast<fs::perms>(row.keyMode));
        const auto error = ErrorOf([&] { net::MakeServerTlsContext(row.files); });
        if (row.says.empty())
            EXPECT_EQ(error, "");
        else
            EXPECT_NE(error.find(row.says), std::string::npos) << error;
    }
    EXPECT_NE(
        ErrorOf([&] { net::DescribeCertificateFile(none("none.crt")); }).find(none("none.crt")),
        std::string::npos);
}

TEST_F(TlsFilesTest, ReloadTakesANewPairAndKeepsTheOldOneWhenTheNewFilesAreBroken) {
    const auto files = Pair("tls");
    net::TlsCredentials credentials(files);
    const auto first = ServedFingerprint(credentials.Current());
    EXPECT_EQ(first, net::DescribeCertificateFile(files.certificate).sha256Fingerprint);

    net::WriteSelfSignedCertificate("mail02.example.com", files);
    credentials.Reload();
    const auto second = ServedFingerprint(credentials.Current());
    EXPECT_NE(second, first);
    EXPECT_EQ(second, net::DescribeCertificateFile(files.certificate).sha256Fingerprint);

    const auto other = Pair("other");
    const auto keep = credentials.Current();
    // Broken in turn: the certificate, then a key of another pair, then the key's mode.
    std::ofstream(files.certificate, std::ios::trunc) << "-----BEGIN CERTIFICATE-----\nAAAA\n";
    EXPECT_NE(ErrorOf([&] { credentials.Reload(); }), "");
    fs::copy_file(other.certificate, files.certificate, fs::copy_options::overwrite_existing);
    EXPECT_NE(ErrorOf([&] { credentials.Reload(); }), "");
    fs::copy_file(other.key, files.key, fs::copy_options::overwrite_existing);
    fs::permissions(files.key, static_cast<fs::perms>(0644));
    EXPECT_NE(ErrorOf([&] { credentials.Reload(); }), "");
    EXPECT_EQ(credentials.Current(), keep);
    EXPECT_EQ(ServedFingerprint(credentials.Current()), second);
}

} // namespace
