// Server-trust challenges of https connections. Certificates are verified
// before any challenge, and no answer can switch that off: a challenge only
// lets the delegate continue or cancel (-1012) a connection to a server that
// already passed verification. A cancelled challenge counts as a failure for
// its protection space (host, port, method) in this process: the next
// challenge for that space reports previousFailureCount() 1 (2 after two
// cancels, …); a challenge that is answered with a credential or continued
// resets the count.
#pragma once

#include <cstdint>
#include <string>

#include "platform/runtime/NSObject.h"

namespace platform {

inline constexpr const char* NSURLAuthenticationMethodServerTrust = "NSURLAuthenticationMethodServerTrust";

// The verified server's trust (opaque).
class SecTrust : public NSObject {
public:
    explicit SecTrust(std::string host = {}) : host_(std::move(host)) {}
    const std::string& host() const { return host_; }

private:
    std::string host_;
};
using SecTrustRef = Ref<SecTrust>;

class NSURLProtectionSpace : public NSObject {
public:
    Ref<NSURLProtectionSpace> initWithHost(std::string host, int64_t port, SecTrustRef trust);

    const std::string& authenticationMethod() const { return method_; }
    const std::string& host() const { return host_; }
    int64_t port() const { return port_; }
    std::string protocol() const { return "https"; }
    const SecTrustRef& serverTrust() const { return trust_; }

private:
    std::string method_ = NSURLAuthenticationMethodServerTrust;
    std::string host_;
    int64_t port_ = 443;
    SecTrustRef trust_;
};

class NSURLCredential : public NSObject {
public:
    static Ref<NSURLCredential> credentialForTrust(SecTrustRef trust);
    const SecTrustRef& serverTrust() const { return trust_; }

private:
    SecTrustRef trust_;
};

class NSURLAuthenticationChallenge;

// Answers a challenge; the connection waits for one of these.
class NSURLAuthenticationChallengeSender : public virtual NSObjectProtocol {
public:
    virtual void useCredential(Ref<NSURLCredential> credential, Ref<NSURLAuthenticationChallenge> challenge) = 0;
    virtual void continueWithoutCredentialForAuthenticationChallenge(Ref<NSURLAuthenticationChallenge> challenge) = 0;
    // Fails the connection with -1012.
    virtual void cancelAuthenticationChallenge(Ref<NSURLAuthenticationChallenge> challenge) = 0;
    virtual void performDefaultHandlingForAuthenticationChallenge(Ref<NSURLAuthenticationChallenge> challenge) = 0;
};

class NSURLAuthenticationChallenge : public NSObject {
public:
    Ref<NSURLAuthenticationChallenge> initWithProtectionSpace(Ref<NSURLProtectionSpace> space,
                                                              Ref<NSURLAuthenticationChallengeSender> sender,
                                                              int64_t previousFailureCount = 0);

    const Ref<NSURLProtectionSpace>& protectionSpace() const { return space_; }
    int64_t previousFailureCount() const { return previousFailureCount_; }
    const Ref<NSURLAuthenticationChallengeSender>& sender() const { return sender_; }
    Ref<NSURLCredential> proposedCredential() const { return nullptr; }

private:
    Ref<NSURLProtectionSpace> space_;
    Ref<NSURLAuthenticationChallengeSender> sender_;
    int64_t previousFailureCount_ = 0;
};

}  // namespace platform

using platform::NSURLAuthenticationChallenge;
using platform::NSURLAuthenticationChallengeSender;
using platform::NSURLAuthenticationMethodServerTrust;
using platform::NSURLCredential;
using platform::NSURLProtectionSpace;
using platform::SecTrust;
using platform::SecTrustRef;
