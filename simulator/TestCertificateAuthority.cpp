#include "simulator/TestCertificateAuthority.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <atomic>

namespace simulator {

namespace {

struct TestAuthorityKeyDeleter {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct TestAuthorityCertDeleter {
    void operator()(X509* c) const { X509_free(c); }
};
using TestAuthorityKey = std::unique_ptr<EVP_PKEY, TestAuthorityKeyDeleter>;
using TestAuthorityCert = std::unique_ptr<X509, TestAuthorityCertDeleter>;

constexpr long kTestAuthorityDay = 24 * 3600;

bool addTestCertificateExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext) return false;
    bool ok = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok;
}

// An unsigned certificate for `key`, named `commonName`, valid from `from`
// to `until` seconds relative to now; self-issued when `issuer` is null.
TestAuthorityCert makeTestCertificate(EVP_PKEY* key, const std::string& commonName, long from, long until, X509* issuer) {
    TestAuthorityCert cert(X509_new());
    if (!cert) return nullptr;
    X509_set_version(cert.get(), 2);
    unsigned char serial[16];
    RAND_bytes(serial, sizeof serial);
    serial[0] &= 0x7F;  // positive
    BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
    BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get()));
    BN_free(bn);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), from);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), until);
    X509_set_pubkey(cert.get(), key);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("Loopback simulator"), -1,
                               -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName.c_str()),
                               -1, -1, 0);
    X509_set_issuer_name(cert.get(), issuer ? X509_get_subject_name(issuer) : name);
    return cert;
}

template <class Write>
std::string testCertificatePEM(Write write) {
    BIO* bio = BIO_new(BIO_s_mem());
    write(bio);
    char* data = nullptr;
    long length = BIO_get_mem_data(bio, &data);
    std::string out(data, static_cast<size_t>(length));
    BIO_free(bio);
    return out;
}

std::atomic<int> testAuthorityCount{0};

}  // namespace

struct TestCertificateAuthority::Impl {
    TestAuthorityKey key;
    TestAuthorityCert cert;
    std::string certPEM;
};

TestCertificateAuthority::TestCertificateAuthority() : impl_(std::make_unique<Impl>()) {
    impl_->key.reset(EVP_EC_gen("P-256"));
    if (!impl_->key) return;
    std::string name = "Loopback Test CA " + std::to_string(++testAuthorityCount);
    TestAuthorityCert cert = makeTestCertificate(impl_->key.get(), name, -kTestAuthorityDay, 30 * kTestAuthorityDay, nullptr);
    if (!cert) return;
    bool ok = addTestCertificateExtension(cert.get(), cert.get(), NID_basic_constraints, "critical,CA:TRUE") &&
              addTestCertificateExtension(cert.get(), cert.get(), NID_key_usage, "critical,keyCertSign,cRLSign") &&
              addTestCertificateExtension(cert.get(), cert.get(), NID_subject_key_identifier, "hash") &&
              X509_sign(cert.get(), impl_->key.get(), EVP_sha256()) > 0;
    if (!ok) return;
    impl_->certPEM = testCertificatePEM([&](BIO* bio) { PEM_write_bio_X509(bio, cert.get()); });
    impl_->cert = std::move(cert);
}

TestCertificateAuthority::~TestCertificateAuthority() = default;

bool TestCertificateAuthority::valid() const { return impl_->cert != nullptr; }

const std::string& TestCertificateAuthority::certificatePEM() const { return impl_->certPEM; }

TestCertificateAuthority::Issued TestCertificateAuthority::issue(TLSCertificate kind) const {
    Issued issued;
    if (!valid()) return issued;
    TestAuthorityKey key(EVP_EC_gen("P-256"));
    if (!key) return issued;
    bool selfSigned = kind == TLSCertificate::SelfSigned;
    bool expired = kind == TLSCertificate::Expired;
    bool wrongHost = kind == TLSCertificate::WrongHost;
    X509* issuer = selfSigned ? nullptr : impl_->cert.get();
    EVP_PKEY* signer = selfSigned ? key.get() : impl_->key.get();
    TestAuthorityCert cert =
        makeTestCertificate(key.get(), wrongHost ? "wrong.example" : "127.0.0.1", expired ? -3 * kTestAuthorityDay : -3600,
                        expired ? -kTestAuthorityDay : 7 * kTestAuthorityDay, issuer);
    if (!cert) return issued;
    X509* extensionIssuer = issuer ? issuer : cert.get();
    const char* names = wrongHost ? "DNS:wrong.example" : "IP:127.0.0.1,DNS:localhost";
    bool ok = addTestCertificateExtension(cert.get(), extensionIssuer, NID_basic_constraints, "critical,CA:FALSE") &&
              addTestCertificateExtension(cert.get(), extensionIssuer, NID_key_usage, "critical,digitalSignature") &&
              addTestCertificateExtension(cert.get(), extensionIssuer, NID_ext_key_usage, "serverAuth") &&
              addTestCertificateExtension(cert.get(), extensionIssuer, NID_subject_alt_name, names) &&
              addTestCertificateExtension(cert.get(), extensionIssuer, NID_subject_key_identifier, "hash") &&
              (selfSigned || addTestCertificateExtension(cert.get(), extensionIssuer, NID_authority_key_identifier, "keyid:always")) &&
              X509_sign(cert.get(), signer, EVP_sha256()) > 0;
    if (!ok) return issued;
    issued.certificatePEM = testCertificatePEM([&](BIO* bio) { PEM_write_bio_X509(bio, cert.get()); });
    issued.privateKeyPEM = testCertificatePEM([&](BIO* bio) { PEM_write_bio_PrivateKey(bio, key.get(), nullptr, nullptr, 0, nullptr, nullptr); });
    return issued;
}

}  // namespace simulator
