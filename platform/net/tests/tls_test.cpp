// Certificate verification is always on: a server with a self-signed
// certificate fails with -1202, before any trust challenge.
#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <thread>

#include "NetTestSupport.h"

using namespace nettest;

namespace {

// A fresh P-256 key and a self-signed certificate for 127.0.0.1.
struct SelfSigned {
    SelfSigned() {
        key = EVP_EC_gen("P-256");
        cert = X509_new();
        ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
        X509_gmtime_adj(X509_getm_notBefore(cert), -60);
        X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
        X509_set_pubkey(cert, key);
        X509_NAME* name = X509_get_subject_name(cert);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
        X509_set_issuer_name(cert, name);
        X509_sign(cert, key, EVP_sha256());
    }
    ~SelfSigned() {
        X509_free(cert);
        EVP_PKEY_free(key);
    }
    EVP_PKEY* key = nullptr;
    X509* cert = nullptr;
};

class TrustAsking : public NSURLConnectionDataDelegate, public NSObject {
public:
    bool connectionCanAuthenticateAgainstProtectionSpace(Ref<NSURLConnection>, Ref<NSURLProtectionSpace>) override {
        ++asked;
        return true;
    }
    void connectionDidReceiveAuthenticationChallenge(Ref<NSURLConnection>,
                                                     Ref<NSURLAuthenticationChallenge> challenge) override {
        ++challenged;
        challenge->sender()->useCredential(NSURLCredential::credentialForTrust(challenge->protectionSpace()->serverTrust()),
                                           challenge);
    }
    void connectionDidReceiveResponse(Ref<NSURLConnection>, Ref<NSURLResponse>) override { ++responses; }
    void connectionDidFailWithError(Ref<NSURLConnection>, Ref<NSError> e) override { error = e; }
    std::atomic<int> asked{0}, challenged{0}, responses{0};
    Ref<NSError> error;
};

TEST_F(NetTest, SelfSignedCertificateIsUntrusted) {
    SelfSigned identity;
    httplib::SSLServer tls(identity.cert, identity.key);
    ASSERT_TRUE(tls.is_valid());
    tls.Get("/", [](const httplib::Request&, httplib::Response& res) { res.set_content("secret", "text/plain"); });
    int port = tls.bind_to_any_port("127.0.0.1");
    ASSERT_GT(port, 0);
    std::thread serving([&] { tls.listen_after_bind(); });
    std::string url = "https://127.0.0.1:" + std::to_string(port) + "/";

    Result sync = send(*requestTo(url));
    EXPECT_EQ(sync.code(), NSURLErrorServerCertificateUntrusted);
    EXPECT_EQ(sync.data, std::nullopt);

    // No delegate can accept it: the failure comes before any challenge.
    auto delegate = NSObject::alloc<TrustAsking>();
    NSURLConnection::connectionWithRequest(*requestTo(url), delegate);
    ASSERT_TRUE(driver().runUntil([&] { return delegate->error != nullptr; }, 5));
    EXPECT_EQ(delegate->error->code(), NSURLErrorServerCertificateUntrusted);
    EXPECT_EQ(delegate->asked.load() + delegate->challenged.load() + delegate->responses.load(), 0);

    tls.stop();
    serving.join();
}

}  // namespace
