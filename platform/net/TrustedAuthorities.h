// Certificate authorities that https loads trust besides the system's: none
// unless the process adds some (tests, and the host when it plays against
// the embedded simulator, add the loopback server's test authority). Adding
// one trusts exactly that authority, for this process only. Certificate and
// host-name verification stay on for every load: nothing turns them off.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

class TrustedAuthorities {
public:
    // Adds every certificate in the PEM text for the rest of the process
    // (any thread). False, with a log line, when the text holds no
    // certificate or one that does not parse (then nothing is added).
    static bool addCertificatesPEM(const std::string& pem);
    // Certificates added so far.
    static size_t count();

    // Internal to the net module: adds them to an OpenSSL SSL_CTX's store.
    static void applyToSSLContext(void* sslContext);
};

}  // namespace platform

using platform::TrustedAuthorities;
