#include "devserver/TlsIdentity.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <stdexcept>

namespace devserver {

namespace {

[[noreturn]] void fail(const char* what) {
    ERR_clear_error();
    throw std::runtime_error(std::string("devserver certificate: ") + what);
}

std::shared_ptr<EVP_PKEY> newKey() {
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
    if (key == nullptr) fail("key generation failed");
    return {key, EVP_PKEY_free};
}

void addExtension(X509* cert, X509V3_CTX* ctx, int nid, const char* value) {
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, ctx, nid, value);
    if (ext == nullptr) fail("extension rejected");
    const int ok = X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
    if (ok != 1) fail("extension not added");
}

std::shared_ptr<X509> newCertificate(const char* commonName, EVP_PKEY* subjectKey, int validDays) {
    std::shared_ptr<X509> cert(X509_new(), X509_free);
    if (!cert) fail("allocation failed");
    X509* x = cert.get();
    X509_set_version(x, 2);
    BIGNUM* serial = BN_new();
    if (serial == nullptr || BN_rand(serial, 63, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) != 1 ||
        BN_to_ASN1_INTEGER(serial, X509_get_serialNumber(x)) == nullptr) {
        BN_free(serial);
        fail("serial number");
    }
    BN_free(serial);
    // An hour of slack before "now" keeps a slightly skewed clock from
    // rejecting a certificate made a moment ago.
    X509_gmtime_adj(X509_getm_notBefore(x), -3600);
    X509_gmtime_adj(X509_getm_notAfter(x), static_cast<long>(validDays) * 24 * 3600);
    if (X509_set_pubkey(x, subjectKey) != 1) fail("public key");
    X509_NAME* name = X509_get_subject_name(x);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("Quorvel devserver"),
                               -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName), -1,
                               -1, 0);
    return cert;
}

std::string toPem(X509* cert) {
    BIO* bio = BIO_new(BIO_s_mem());
    if (bio == nullptr || PEM_write_bio_X509(bio, cert) != 1) {
        BIO_free(bio);
        fail("PEM encoding");
    }
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    std::string pem(data, static_cast<std::size_t>(length));
    BIO_free(bio);
    return pem;
}

}  // namespace

TlsIdentity TlsIdentity::generate(int validDays) {
    TlsIdentity identity;

    auto caKey = newKey();
    auto ca = newCertificate("Quorvel devserver test CA", caKey.get(), validDays);
    X509_set_issuer_name(ca.get(), X509_get_subject_name(ca.get()));
    X509V3_CTX caCtx;
    X509V3_set_ctx_nodb(&caCtx);
    X509V3_set_ctx(&caCtx, ca.get(), ca.get(), nullptr, nullptr, 0);
    addExtension(ca.get(), &caCtx, NID_basic_constraints, "critical,CA:TRUE,pathlen:0");
    addExtension(ca.get(), &caCtx, NID_key_usage, "critical,keyCertSign,cRLSign");
    addExtension(ca.get(), &caCtx, NID_subject_key_identifier, "hash");
    if (X509_sign(ca.get(), caKey.get(), EVP_sha256()) == 0) fail("CA signature");

    auto leafKey = newKey();
    auto leaf = newCertificate("127.0.0.1", leafKey.get(), validDays);
    X509_set_issuer_name(leaf.get(), X509_get_subject_name(ca.get()));
    X509V3_CTX leafCtx;
    X509V3_set_ctx_nodb(&leafCtx);
    X509V3_set_ctx(&leafCtx, ca.get(), leaf.get(), nullptr, nullptr, 0);
    addExtension(leaf.get(), &leafCtx, NID_basic_constraints, "critical,CA:FALSE");
    addExtension(leaf.get(), &leafCtx, NID_key_usage, "critical,digitalSignature");
    addExtension(leaf.get(), &leafCtx, NID_ext_key_usage, "serverAuth");
    addExtension(leaf.get(), &leafCtx, NID_subject_alt_name, "IP:127.0.0.1,IP:::1,DNS:localhost");
    addExtension(leaf.get(), &leafCtx, NID_subject_key_identifier, "hash");
    addExtension(leaf.get(), &leafCtx, NID_authority_key_identifier, "keyid:always");
    if (X509_sign(leaf.get(), caKey.get(), EVP_sha256()) == 0) fail("certificate signature");

    identity.caCertificatePem = toPem(ca.get());
    identity.certificatePem = toPem(leaf.get());
    identity.caCertificate = std::move(ca);
    identity.certificate = std::move(leaf);
    identity.privateKey = std::move(leafKey);
    return identity;
}

}  // namespace devserver
