// Self-signed certificates with OpenSSL's library, and what a certificate file says.

#include "server/net/SelfSignedCertificate.h"

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace server::net {

namespace {

namespace fs = std::filesystem;

template <auto Free> struct Freer {
    template <typename T> void operator()(T* object) const { Free(object); }
};
template <typename T, auto Free> using Owned = std::unique_ptr<T, Freer<Free>>;
using Key = Owned<EVP_PKEY, EVP_PKEY_free>;
using Certificate = Owned<X509, X509_free>;
using Bio = Owned<BIO, BIO_free_all>;
using Number = Owned<BIGNUM, BN_free>;
using Extension = Owned<X509_EXTENSION, X509_EXTENSION_free>;
using Names = Owned<GENERAL_NAMES, GENERAL_NAMES_free>;

constexpr long kValidDays = 825;        // the longest that browsers and mail clients still accept
constexpr long kBackdateSeconds = 3600; // clients whose clocks run a little behind
constexpr std::size_t kCommonNameLimit = 64; // X.520's upper bound for CN

// What OpenSSL queued about its last failure, the cause last.
[[noreturn]] void Fail(const std::string& what) {
    std::string detail;
    while (const auto code = ERR_get_error()) {
        char buffer[256];
        ERR_error_string_n(code, buffer, sizeof buffer);
        detail = buffer;
    }
    throw std::runtime_error(what + (detail.empty() ? "" : ": " + detail));
}

template <typename T> T* Check(T* made, const std::string& what) {
    if (!made)
        Fail(what);
    return made;
}

void Check(int result, const std::string& what) {
    if (result != 1)
        Fail(what);
}

std::string MemoryText(BIO* bio) {
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return std::string(data, size > 0 ? static_cast<std::size_t>(size) : 0);
}

void AddExtension(X509* certificate, X509V3_CTX& context, int nid, const std::string& value) {
    const Extension extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str()));
    Check(extension.get(), "cannot make the certificate extension " + value);
    Check(X509_add_ext(certificate, extension.get(), -1), "cannot add the extension " + value);
}

void CreateFolder(const fs::path& folder) {
    std::error_code error;
    if (folder.empty() || fs::is_directory(folder, error))
        return;
    CreateFolder(folder.parent_path());
    // chmod as well: the umask may have taken bits away that the owner needs.
    if ((::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) ||
        ::chmod(folder.c_str(), 0700) != 0)
        throw std::runtime_error("cannot create the folder " + folder.string() + ": " +
                                 std::strerror(errno));
}

// The file is made under a temporary name with its final mode, so the key is never readable by
// others, not even before its content is written.
void ReplaceFile(const fs::path& file, const std::string& content, mode_t mode) {
    CreateFolder(file.parent_path());
    std::string temporary = (file.parent_path() / ("." + file.filename().string() + ".XXXXXX"));
    const int fd = ::mkstemp(temporary.data());
    const auto failed = [&](const char* step) {
        const std::string reason = std::strerror(errno);
        if (fd >= 0) {
            ::close(fd);
            ::unlink(temporary.c_str());
        }
        throw std::runtime_error(std::string("cannot ") + step + " " + file.string() + ": " +
                                 reason);
    };
    if (fd < 0)
        failed("create a file beside");
    if (::fchmod(fd, mode) != 0)
        failed("set the mode of");
    for (std::size_t written = 0; written < content.size();) {
        const auto count = ::write(fd, content.data() + written, content.size() - written);
        if (count < 0 && errno != EINTR)
            failed("write");
        written += count > 0 ? static_cast<std::size_t>(count) : 0;
    }
    if (::fsync(fd) != 0)
        failed("write");
    ::close(fd);
    if (::rename(temporary.c_str(), file.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        ::unlink(temporary.c_str());
        throw std::runtime_error("cannot replace " + file.string() + ": " + reason);
    }
}

std::string NameText(const X509_NAME* name) {
    const Bio bio(BIO_new(BIO_s_mem()));
    X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    return MemoryText(bio.get());
}

std::string TimeText(const ASN1_TIME* time) {
    std::tm parts{};
    if (ASN1_TIME_to_tm(time, &parts) != 1)
        return "(unreadable)";
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts);
    return text;
}

std::string HexWithColons(const unsigned char* bytes, unsigned int size) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned int i = 0; i < size; ++i) {
        if (i)
            text += ':';
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 15];
    }
    return text;
}

} // namespace

void WriteTlsFiles(const TlsFiles& files, const std::string& certificatePem,
                   const std::string& keyPem) {
    ReplaceFile(files.key, keyPem, 0600);
    // Though the certificate is public, it is 0600 too: everything in the server folder is its
    // owner's alone, and the servers read it as that owner.
    ReplaceFile(files.certificate, certificatePem, 0600);
}

void WriteSelfSignedCertificate(const std::string& host, const TlsFiles& files) {
    ERR_clear_error();
    const Key key(Check(EVP_EC_gen("P-256"), "cannot make a P-256 key"));
    const Certificate certificate(Check(X509_new(), "cannot make a certificate"));
    X509* x = certificate.get();
    Check(X509_set_version(x, X509_VERSION_3), "cannot set the certificate's version");

    // A random serial: certificates made again for the same name must still differ.
    unsigned char serial[16];
    Check(RAND_bytes(serial, sizeof serial), "cannot make a random serial number");
    const Number number(Check(BN_bin2bn(serial, sizeof serial, nullptr), "cannot make a serial"));
    Check(BN_to_ASN1_INTEGER(number.get(), X509_get_serialNumber(x)), "cannot set the serial");

    Check(X509_gmtime_adj(X509_getm_notBefore(x), -kBackdateSeconds), "cannot set the start");
    Check(X509_time_adj_ex(X509_getm_notAfter(x), kValidDays, -kBackdateSeconds, nullptr),
          "cannot set the end of validity");

    // A host name longer than CN allows is named by its first label: clients check the
    // subjectAltName, which has no such limit.
    const auto commonName =
        host.size() <= kCommonNameLimit ? host : host.substr(0, host.find('.')).substr(0, 63);
    X509_NAME* name = X509_get_subject_name(x);
    Check(X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                     reinterpret_cast<const unsigned char*>(commonName.c_str()), -1,
                                     -1, 0),
          "cannot set the certificate's name " + commonName);
    Check(X509_set_issuer_name(x, name), "cannot set the certificate's issuer");
    Check(X509_set_pubkey(x, key.get()), "cannot set the certificate's key");

    X509V3_CTX context;
    X509V3_set_ctx(&context, x, x, nullptr, nullptr, 0);
    std::string altNames = "DNS:" + host;
    if (host != "localhost")
        altNames += ",DNS:localhost";
    AddExtension(x, context, NID_subject_alt_name, altNames + ",IP:127.0.0.1,IP:::1");
    AddExtension(x, context, NID_basic_constraints, "critical,CA:FALSE");
    AddExtension(x, context, NID_key_usage, "critical,digitalSignature");
    AddExtension(x, context, NID_ext_key_usage, "serverAuth");
    AddExtension(x, context, NID_subject_key_identifier, "hash");
    AddExtension(x, context, NID_authority_key_identifier, "keyid:always");
    if (X509_sign(x, key.get(), EVP_sha256()) <= 0)
        Fail("cannot sign the certificate");

    const Bio keyPem(BIO_new(BIO_s_mem())), certificatePem(BIO_new(BIO_s_mem()));
    Check(PEM_write_bio_PrivateKey(keyPem.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr),
          "cannot write the key as PEM");
    Check(PEM_write_bio_X509(certificatePem.get(), x), "cannot write the certificate as PEM");
    WriteTlsFiles(files, MemoryText(certificatePem.get()), MemoryText(keyPem.get()));
}

CertificateDescription DescribeCertificateFile(const fs::path& file) {
    ERR_clear_error();
    const Bio bio(BIO_new_file(file.c_str(), "r"));
    if (!bio)
        Fail("cannot read the certificate file " + file.string());
    const Certificate certificate(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    if (!certificate)
        Fail("the file " + file.string() + " holds no PEM certificate");
    X509* x = certificate.get();

    CertificateDescription description;
    description.subject = NameText(X509_get_subject_name(x));
    description.issuer = NameText(X509_get_issuer_name(x));
    const Names names(
        static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(x, NID_subject_alt_name, nullptr, nullptr)));
    for (int i = 0; names && i < sk_GENERAL_NAME_num(names.get()); ++i) {
        const GENERAL_NAME* entry = sk_GENERAL_NAME_value(names.get(), i);
        if (entry->type == GEN_DNS) {
            const auto* text = entry->d.dNSName;
            description.dnsNames.emplace_back(
                reinterpret_cast<const char*>(ASN1_STRING_get0_data(text)),
                ASN1_STRING_length(text));
        } else if (entry->type == GEN_IPADD) {
            const auto* octets = entry->d.iPAddress;
            const int length = ASN1_STRING_length(octets);
            char text[INET6_ADDRSTRLEN] = {};
            if ((length == 4 || length == 16) &&
                inet_ntop(length == 4 ? AF_INET : AF_INET6, ASN1_STRING_get0_data(octets), text,
                          sizeof text))
                description.ipAddresses.emplace_back(text);
        }
    }
    description.notBefore = TimeText(X509_get0_notBefore(x));
    description.notAfter = TimeText(X509_get0_notAfter(x));
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    Check(X509_digest(x, EVP_sha256(), digest, &size), "cannot hash " + file.string());
    description.sha256Fingerprint = HexWithColons(digest, size);
    if (EVP_PKEY* key = X509_get0_pubkey(x)) {
        const char* type = EVP_PKEY_get0_type_name(key);
        description.keyType = type ? type : "unknown";
        description.keyBits = EVP_PKEY_get_bits(key);
    }
    description.selfSigned = X509_self_signed(x, 1) == 1;
    ERR_clear_error();
    return description;
}

} // namespace server::net
