#include "platform/net/TrustedAuthorities.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <mutex>
#include <vector>

#include "platform/runtime/Log.h"

namespace platform {

namespace {

struct TrustedAuthorityList {
    std::mutex mutex;
    std::vector<X509*> certificates;  // owned for the life of the process
};

TrustedAuthorityList& trustedAuthorityList() {
    static auto* list = new TrustedAuthorityList();  // never destroyed: transfers may run at exit
    return *list;
}

}  // namespace

bool TrustedAuthorities::addCertificatesPEM(const std::string& pem) {
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    std::vector<X509*> parsed;
    while (X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) parsed.push_back(cert);
    // The loop ends at the end of the text (no start line) or at a broken certificate.
    unsigned long error = ERR_peek_last_error();
    bool clean = ERR_GET_REASON(error) == PEM_R_NO_START_LINE || error == 0;
    ERR_clear_error();
    BIO_free(bio);
    if (parsed.empty() || !clean) {
        for (X509* cert : parsed) X509_free(cert);
        logError("TrustedAuthorities: the PEM text holds no usable certificate; nothing added");
        return false;
    }
    auto& list = trustedAuthorityList();
    std::lock_guard lock(list.mutex);
    list.certificates.insert(list.certificates.end(), parsed.begin(), parsed.end());
    logInfo("TrustedAuthorities: " + std::to_string(parsed.size()) + " certificate authority(ies) added for this process");
    return true;
}

size_t TrustedAuthorities::count() {
    auto& list = trustedAuthorityList();
    std::lock_guard lock(list.mutex);
    return list.certificates.size();
}

void TrustedAuthorities::applyToSSLContext(void* sslContext) {
    auto& list = trustedAuthorityList();
    std::lock_guard lock(list.mutex);
    if (list.certificates.empty() || !sslContext) return;
    X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(sslContext));
    // A certificate already in the store is not an error.
    for (X509* cert : list.certificates) X509_STORE_add_cert(store, cert);
    ERR_clear_error();
}

}  // namespace platform
