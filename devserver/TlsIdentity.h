#pragma once

#include <openssl/types.h>

#include <memory>
#include <string>

namespace devserver {

// A throw-away certificate authority and the server certificate it signs, for
// 127.0.0.1, ::1 and localhost. Made fresh at every start: nothing is kept on
// disk unless the caller writes the CA certificate out for a client to trust.
struct TlsIdentity {
    std::string caCertificatePem;
    std::string certificatePem;
    std::shared_ptr<X509> caCertificate;
    std::shared_ptr<X509> certificate;
    std::shared_ptr<EVP_PKEY> privateKey;

    // Throws std::runtime_error when OpenSSL cannot make the keys or certificates.
    static TlsIdentity generate(int validDays = 30);
};

}  // namespace devserver
