#include "SimCert.h"

#include <httplib.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>
#include <memory>

namespace korvansim {

namespace {

template <class T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;

bool addExtension(X509* cert, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext) return false;
    bool ok = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok;
}

std::string bioText(BIO* bio) {
    char* data = nullptr;
    long n = BIO_get_mem_data(bio, &data);
    return n > 0 ? std::string(data, static_cast<size_t>(n)) : std::string();
}

bool failWith(std::string& message, const char* step) {
    char buf[256] = {0};
    ERR_error_string_n(ERR_get_error(), buf, sizeof buf);
    message = std::string("certificate generation failed at ") + step + ": " + buf;
    return false;
}

}  // namespace

bool generateSelfSigned(TlsIdentity& out, std::string& message) {
    KeyPtr key(EVP_EC_gen("P-256"));
    if (!key) return failWith(message, "key");
    CertPtr cert(X509_new());
    if (!cert) return failWith(message, "certificate");
    unsigned char serial[16];
    RAND_bytes(serial, sizeof serial);
    serial[0] &= 0x7f;
    BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
    BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get()));
    BN_free(bn);
    X509_set_version(cert.get(), 2);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 30L * 24 * 3600);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("korvan-sim"), -1, -1,
                               0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1,
                               0);
    X509_set_issuer_name(cert.get(), name);
    X509_set_pubkey(cert.get(), key.get());
    if (!addExtension(cert.get(), NID_basic_constraints, "critical,CA:TRUE") ||
        !addExtension(cert.get(), NID_key_usage, "critical,digitalSignature,keyCertSign") ||
        !addExtension(cert.get(), NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost") ||
        !addExtension(cert.get(), NID_subject_key_identifier, "hash"))
        return failWith(message, "extensions");
    if (X509_sign(cert.get(), key.get(), EVP_sha256()) <= 0) return failWith(message, "signature");

    BioPtr certBio(BIO_new(BIO_s_mem())), keyBio(BIO_new(BIO_s_mem()));
    if (!certBio || !keyBio || PEM_write_bio_X509(certBio.get(), cert.get()) != 1 ||
        PEM_write_bio_PrivateKey(keyBio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1)
        return failWith(message, "PEM encoding");
    out.certPem = bioText(certBio.get());
    out.keyPem = bioText(keyBio.get());
    return true;
}

std::unique_ptr<httplib::SSLServer> makeHttpsServer(const TlsIdentity& identity, std::string& message) {
    BIO* certBio = BIO_new_mem_buf(identity.certPem.data(), static_cast<int>(identity.certPem.size()));
    BIO* keyBio = BIO_new_mem_buf(identity.keyPem.data(), static_cast<int>(identity.keyPem.size()));
    CertPtr cert(certBio ? PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr) : nullptr);
    KeyPtr key(keyBio ? PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr) : nullptr);
    BIO_free(certBio);
    BIO_free(keyBio);
    if (!cert || !key) {
        message = "the certificate or the key is not valid PEM";
        return nullptr;
    }
    // The server's context takes its own references.
    return std::make_unique<httplib::SSLServer>(cert.get(), key.get());
}

}  // namespace korvansim
