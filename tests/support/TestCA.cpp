#include "tests/support/TestCA.h"

#include <cstdio>
#include <functional>
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

template <typename T, void (*Free)(T*)> struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using Cert = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using Name = std::unique_ptr<X509_NAME, Deleter<X509_NAME, X509_NAME_free>>;
using Extension = std::unique_ptr<X509_EXTENSION, Deleter<X509_EXTENSION, X509_EXTENSION_free>>;

void check(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string("test certificates: ") + what + " failed");
}

Key newKey() {
    Key key(EVP_EC_gen("P-256"));
    check(key != nullptr, "EC key generation");
    return key;
}

Name commonName(const std::string& cn) {
    Name name(X509_NAME_new());
    check(name && X509_NAME_add_entry_by_txt(name.get(), "CN", MBSTRING_UTF8,
                                             reinterpret_cast<const unsigned char*>(cn.c_str()), -1, -1, 0) == 1,
          "subject name");
    return name;
}

void addExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    const Extension ext(X509V3_EXT_nconf_nid(nullptr, &ctx, nid, value.c_str()));
    check(ext && X509_add_ext(cert, ext.get(), -1) == 1, "certificate extension");
}

Cert newCertificate(EVP_PKEY* subjectKey, const X509_NAME* subject, const X509_NAME* issuerName) {
    Cert cert(X509_new());
    check(cert != nullptr, "certificate");
    check(X509_set_version(cert.get(), 2) == 1, "certificate version");
    unsigned char serial[16];
    check(RAND_bytes(serial, sizeof serial) == 1, "serial number");
    serial[0] &= 0x7F; // positive
    const std::unique_ptr<BIGNUM, Deleter<BIGNUM, BN_free>> bn(BN_bin2bn(serial, sizeof serial, nullptr));
    check(bn && BN_to_ASN1_INTEGER(bn.get(), X509_get_serialNumber(cert.get())) != nullptr, "serial number");
    check(X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600) != nullptr, "validity");
    check(X509_gmtime_adj(X509_getm_notAfter(cert.get()), 24 * 3600) != nullptr, "validity");
    check(X509_set_subject_name(cert.get(), subject) == 1, "subject");
    check(X509_set_issuer_name(cert.get(), issuerName) == 1, "issuer");
    check(X509_set_pubkey(cert.get(), subjectKey) == 1, "public key");
    return cert;
}

void writePem(const std::filesystem::path& path, const std::function<int(FILE*)>& write, mode_t mode) {
    // Created with its final mode: a key file is never readable by others, not even for a moment.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    check(fd >= 0, "creating a PEM file");
    const std::unique_ptr<FILE, int (*)(FILE*)> f(::fdopen(fd, "wb"), &std::fclose);
    if (!f) ::close(fd);
    check(f != nullptr, "opening a PEM file");
    check(::fchmod(fd, mode) == 0, "file mode");
    check(write(f.get()) == 1, "writing a PEM file");
}

} // namespace

TestCertificates makeTestCertificates(const std::filesystem::path& directory, const std::vector<std::string>& dnsNames,
                                      const std::vector<std::string>& ipAddresses) {
    std::error_code ec;
    std::filesystem::create_directories(directory, ec);
    check(!ec, "creating the certificate folder");
    const Key caKey = newKey();
    const Name caName = commonName("Dovrel Test CA");
    const Cert ca = newCertificate(caKey.get(), caName.get(), caName.get());
    addExtension(ca.get(), ca.get(), NID_basic_constraints, "critical,CA:TRUE,pathlen:0");
    addExtension(ca.get(), ca.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
    addExtension(ca.get(), ca.get(), NID_subject_key_identifier, "hash");
    check(X509_sign(ca.get(), caKey.get(), EVP_sha256()) > 0, "signing the authority");

    const Key serverKey = newKey();
    const Name serverName = commonName(dnsNames.empty() ? "localhost" : dnsNames.front());
    const Cert server = newCertificate(serverKey.get(), serverName.get(), caName.get());
    std::string altNames;
    for (const auto& n : dnsNames)
        altNames += (altNames.empty() ? "" : ",") + std::string("DNS:") + n;
    for (const auto& ip : ipAddresses)
        altNames += (altNames.empty() ? "" : ",") + std::string("IP:") + ip;
    addExtension(server.get(), ca.get(), NID_basic_constraints, "critical,CA:FALSE");
    addExtension(server.get(), ca.get(), NID_key_usage, "critical,digitalSignature");
    addExtension(server.get(), ca.get(), NID_ext_key_usage, "serverAuth");
    addExtension(server.get(), ca.get(), NID_subject_key_identifier, "hash");
    addExtension(server.get(), ca.get(), NID_authority_key_identifier, "keyid:always");
    if (!altNames.empty()) addExtension(server.get(), ca.get(), NID_subject_alt_name, altNames);
    check(X509_sign(server.get(), caKey.get(), EVP_sha256()) > 0, "signing the server certificate");

    TestCertificates out{(directory / "ca.pem").string(), (directory / "server.pem").string(),
                         (directory / "server.key").string()};
    writePem(
        out.caFile, [&](FILE* f) { return PEM_write_X509(f, ca.get()); }, 0644);
    writePem(
        out.certFile, [&](FILE* f) { return PEM_write_X509(f, server.get()); }, 0644);
    writePem(
        out.keyFile,
        [&](FILE* f) { return PEM_write_PrivateKey(f, serverKey.get(), nullptr, nullptr, 0, nullptr, nullptr); }, 0600);
    return out;
}

} // namespace dovrel::test
