// A certificate authority made for one loopback server at its start: a fresh
// P-256 key and self-signed CA certificate, and the server certificates it
// issues (for 127.0.0.1 and localhost, or deliberately faulty ones). Trusted
// only by a process that adds its PEM text to the platform's transport.
#pragma once

#include <memory>
#include <string>

namespace simulator {

// The certificate a loopback server's HTTPS listener presents.
enum class TLSCertificate {
    Valid,       // issued by the server's authority for 127.0.0.1 and localhost, valid now
    Expired,     // issued by the authority, for the right hosts, expired yesterday
    WrongHost,   // issued by the authority for "wrong.example" only
    SelfSigned,  // for the right hosts, signed by its own key (not by the authority)
};

class TestCertificateAuthority {
public:
    // Makes the authority's key and certificate; valid() is false when
    // OpenSSL failed.
    TestCertificateAuthority();
    ~TestCertificateAuthority();
    TestCertificateAuthority(const TestCertificateAuthority&) = delete;
    TestCertificateAuthority& operator=(const TestCertificateAuthority&) = delete;

    bool valid() const;
    // The authority's certificate, PEM.
    const std::string& certificatePEM() const;

    struct Issued {
        std::string certificatePEM;  // empty when issuing failed
        std::string privateKeyPEM;
    };
    // A new key and a server certificate of the given kind.
    Issued issue(TLSCertificate kind) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace simulator
