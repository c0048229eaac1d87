// The certificate "exhost init" makes, read by OpenSSL's own tool as a peer would, and "exhost
// tls": it shows what OpenSSL sees, --new replaces the pair, --install takes a good pair and
// leaves the files alone when the pair it is given is bad.

#include "testsupport/ExhostRunner.h"
#include "testsupport/FileText.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>

using namespace exhost_test;
using testing::HasSubstr;
namespace fs = std::filesystem;

namespace {

const std::string kOpenSsl = "/usr/bin/openssl";

RunResult OpenSsl(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), kOpenSsl);
    return RunProgram(arguments);
}

// The SHA-256 fingerprint OpenSSL prints for the certificate file.
std::string OpenSslFingerprint(const fs::path& certificate) {
    const auto printed =
        OpenSsl({"x509", "-in", certificate.string(), "-noout", "-fingerprint", "-sha256"});
    const auto at = printed.out.find('=');
    return at == std::string::npos ? printed.out + printed.err
                                   : Lines(printed.out.substr(at + 1))[0];
}

TEST(TlsCommand, InitsCertificateIsReadByOpenSslAndReplacedByTls) {
    testsupport::ScopedServerFolder folder;
    const auto root = folder.Root();
    const auto init = RunExhost(
        {"init", "--root", root, "--users", "1", "--computer", "MAIL07", "--domain", "Lv.Example"});
    ASSERT_EQ(init.exitCode, 0) << init.err;
    const auto certificate = folder.Path() / "tls" / "server.crt";
    const auto key = folder.Path() / "tls" / "server.key";
    EXPECT_THAT(init.out, HasSubstr("\n  tls: self-signed certificate for mail07.lv.example in " +
                                    certificate.string() + ", key " + key.string() + "\n"));
    EXPECT_EQ(testsupport::FileMode(key), 0600u);

    const auto read = OpenSsl(
        {"x509", "-in", certificate.string(), "-noout", "-subject", "-ext", "subjectAltName"});
    EXPECT_EQ(read.exitCode, 0) << read.err;
    EXPECT_THAT(read.out, HasSubstr("subject=CN = mail07.lv.example\n"));
    EXPECT_THAT(read.out, HasSubstr("DNS:mail07.lv.example, DNS:localhost, IP Address:127.0.0.1"));
    const auto verified =
        OpenSsl({"verify", "-CAfile", certificate.string(), certificate.string()});
    EXPECT_EQ(verified.exitCode, 0) << verified.out << verified.err;
    EXPECT_EQ(verified.out, certificate.string() + ": OK\n");

    const auto shown = RunExhost({"tls", "--root", root});
    EXPECT_EQ(shown.exitCode, 0) << shown.err;
    const auto fingerprint = OpenSslFingerprint(certificate);
    for (const auto& line : {"  issuer CN=mail07.lv.example (self-signed)\n",
                             "  names DNS:mail07.lv.example DNS:localhost IP:127.0.0.1 IP:::1\n",
                             "  key EC 256 bits\n"})
        EXPECT_THAT(shown.out, HasSubstr(line));
    EXPECT_THAT(shown.out, HasSubstr("  SHA-256 fingerprint " + fingerprint + "\n"));
    EXPECT_THAT(shown.out, HasSubstr("Key " + key.string() + ": key matches\n"));

    const auto renewed = RunExhost({"tls", "--root", root, "--new", "--host", "IMAP.Lv.Example"});
    EXPECT_EQ(renewed.exitCode, 0) << renewed.err;
    EXPECT_THAT(renewed.out, HasSubstr("SIGHUP"));
    EXPECT_NE(OpenSslFingerprint(certificate), fingerprint);
    EXPECT_EQ(testsupport::FileMode(key), 0600u);
    EXPECT_THAT(RunExhost({"tls", "--root", root}).out, HasSubstr("names DNS:imap.lv.example "));
}

// A pair OpenSSL's tool makes (RSA, unlike exhost's) is installed; bad pairs are refused with
// the installed files left as they were. Which pairs the server's check refuses is
// TlsContextTest's.
TEST(TlsCommand, InstallChecksThePairFirst) {
    testsupport::ScopedServerFolder folder;
    const auto root = folder.Root();
    ASSERT_EQ(RunExhost({"init", "--root", root, "--users", "1"}).exitCode, 0);
    const auto given = folder.Path() / "given";
    fs::create_directory(given);
    const auto cert = (given / "ca.crt").string(), key = (given / "ca.key").string();
    const auto made = OpenSsl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                               "-out", cert, "-days", "30", "-subj", "/CN=mx.lv.example"});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    fs::permissions(key, fs::perms::owner_read | fs::perms::owner_write);
    const auto ownKey = (folder.Path() / "tls" / "server.key").string();
    const auto missing = (given / "missing").string();

    const auto installed = [&] {
        return testsupport::FileText(folder.Path() / "tls" / "server.crt") +
               testsupport::FileText(ownKey);
    };
    const auto before = installed();
    const struct {
        std::string certificate, key, says;
    } bad[] = {
        {cert, ownKey,
         "not installed: the TLS key file " + ownKey + " does not belong to the certificate " +
             cert},
        {missing, key, "cannot read " + missing + ": no such file or not readable"},
        {cert, missing, "cannot read " + missing + ": no such file or not readable"},
    };
    for (const auto& row : bad) {
        const auto refused =
            RunExhost({"tls", "--root", root, "--install", row.certificate, row.key});
        EXPECT_EQ(refused.exitCode, 1) << row.says;
        EXPECT_THAT(refused.err, HasSubstr(row.says));
        EXPECT_EQ(installed(), before) << row.says;
    }

    const auto good = RunExhost({"tls", "--root", root, "--install", cert, key});
    EXPECT_EQ(good.exitCode, 0) << good.err;
    EXPECT_THAT(good.out, HasSubstr("SIGHUP"));
    EXPECT_EQ(installed(), testsupport::FileText(cert) + testsupport::FileText(key));
    EXPECT_EQ(testsupport::FileMode(ownKey), 0600u);
    const auto shown = RunExhost({"tls", "--root", root});
    EXPECT_EQ(shown.exitCode, 0) << shown.err;
    EXPECT_THAT(shown.out, HasSubstr("  key RSA 2048 bits\n"));
}

} // namespace
