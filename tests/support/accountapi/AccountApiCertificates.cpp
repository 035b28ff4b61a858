#include "tests/support/accountapi/AccountApiCertificates.h"

#include <cstdio>
#include <memory>
#include <stdexcept>

#include <fcntl.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dovrel::test {

namespace {

template <typename T, void (*Free)(T*)> struct Freer {
    void operator()(T* p) const { Free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, Freer<EVP_PKEY, EVP_PKEY_free>>;
using Cert = std::unique_ptr<X509, Freer<X509, X509_free>>;
using Name = std::unique_ptr<X509_NAME, Freer<X509_NAME, X509_NAME_free>>;
using Extension = std::unique_ptr<X509_EXTENSION, Freer<X509_EXTENSION, X509_EXTENSION_free>>;
using Number = std::unique_ptr<BIGNUM, Freer<BIGNUM, BN_free>>;

void require(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string("account API certificates: ") + what + " failed");
}

Key p256Key() {
    Key key(EVP_EC_gen("P-256"));
    require(key != nullptr, "key generation");
    return key;
}

Name commonName(const char* cn) {
    Name name(X509_NAME_new());
    require(name && X509_NAME_add_entry_by_txt(name.get(), "CN", MBSTRING_UTF8,
                                               reinterpret_cast<const unsigned char*>(cn), -1, -1, 0) == 1,
            "name");
    return name;
}

void extend(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    const Extension ext(X509V3_EXT_nconf_nid(nullptr, &ctx, nid, value));
    require(ext && X509_add_ext(cert, ext.get(), -1) == 1, "extension");
}

Cert certificate(EVP_PKEY* key, const X509_NAME* subject, const X509_NAME* issuer) {
    Cert cert(X509_new());
    require(cert != nullptr, "certificate");
    require(X509_set_version(cert.get(), 2) == 1, "version");
    unsigned char serial[16];
    require(RAND_bytes(serial, sizeof serial) == 1, "serial");
    serial[0] &= 0x7F;
    const Number n(BN_bin2bn(serial, sizeof serial, nullptr));
    require(n && BN_to_ASN1_INTEGER(n.get(), X509_get_serialNumber(cert.get())) != nullptr, "serial");
    require(X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600) != nullptr, "validity");
    require(X509_gmtime_adj(X509_getm_notAfter(cert.get()), 24 * 3600) != nullptr, "validity");
    require(X509_set_subject_name(cert.get(), subject) == 1, "subject");
    require(X509_set_issuer_name(cert.get(), issuer) == 1, "issuer");
    require(X509_set_pubkey(cert.get(), key) == 1, "public key");
    return cert;
}

template <typename Write> void writePem(const std::filesystem::path& path, mode_t mode, Write write) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    require(fd >= 0, "creating a PEM file");
    ::fchmod(fd, mode);
    std::unique_ptr<FILE, int (*)(FILE*)> file(::fdopen(fd, "wb"), &std::fclose);
    if (!file) ::close(fd);
    require(file != nullptr, "opening a PEM file");
    require(write(file.get()) == 1, "writing a PEM file");
}

} // namespace

AccountApiCertificates makeAccountApiCertificates(const std::filesystem::path& directory) {
    std::filesystem::create_directories(directory);

    const Key caKey = p256Key();
    const Name caName = commonName("Dovrel test account API authority");
    const Cert ca = certificate(caKey.get(), caName.get(), caName.get());
    extend(ca.get(), ca.get(), NID_basic_constraints, "critical,CA:TRUE");
    extend(ca.get(), ca.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
    extend(ca.get(), ca.get(), NID_subject_key_identifier, "hash");
    require(X509_sign(ca.get(), caKey.get(), EVP_sha256()) > 0, "signing the authority");

    const Key serverKey = p256Key();
    const Name serverName = commonName("localhost");
    const Cert server = certificate(serverKey.get(), serverName.get(), caName.get());
    extend(server.get(), ca.get(), NID_basic_constraints, "critical,CA:FALSE");
    extend(server.get(), ca.get(), NID_key_usage, "critical,digitalSignature");
    extend(server.get(), ca.get(), NID_ext_key_usage, "serverAuth");
    extend(server.get(), ca.get(), NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1");
    extend(server.get(), ca.get(), NID_authority_key_identifier, "keyid:always");
    require(X509_sign(server.get(), caKey.get(), EVP_sha256()) > 0, "signing the server certificate");

    AccountApiCertificates out{(directory / "ca.pem").string(), (directory / "server.pem").string(),
                               (directory / "server.key").string()};
    writePem(out.caFile, 0644, [&](FILE* f) { return PEM_write_X509(f, ca.get()); });
    writePem(out.certFile, 0644, [&](FILE* f) { return PEM_write_X509(f, server.get()); });
    writePem(out.keyFile, 0600,
             [&](FILE* f) { return PEM_write_PrivateKey(f, serverKey.get(), nullptr, nullptr, 0, nullptr, nullptr); });
    return out;
}

} // namespace dovrel::test
