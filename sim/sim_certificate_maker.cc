#include "sim/sim_certificate_maker.h"

#include <sys/stat.h>

#include <cstdio>
#include <memory>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace com::mivo::kmr::client {

namespace {

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertFree {
    void operator()(X509* cert) const { X509_free(cert); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Cert = std::unique_ptr<X509, CertFree>;

bool AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (extension == nullptr) {
        return false;
    }
    bool ok = X509_add_ext(cert, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return ok;
}

Cert MakeCert(EVP_PKEY* key, const char* common_name, long serial, X509* issuer, EVP_PKEY* issuer_key,
              bool ca) {
    Cert cert(X509_new());
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 7L * 24 * 3600);
    X509_set_pubkey(cert.get(), key);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("zel-sim"), -1,
                               -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(common_name),
                               -1, -1, 0);
    X509* signer = issuer == nullptr ? cert.get() : issuer;
    X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));
    bool ok = ca ? AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE") &&
                       AddExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign")
                 : AddExtension(cert.get(), signer, NID_basic_constraints, "CA:FALSE") &&
                       AddExtension(cert.get(), signer, NID_subject_alt_name,
                                    "DNS:localhost,IP:127.0.0.1,IP:127.0.0.2,IP:127.0.0.3,IP:127.0.0.4") &&
                       AddExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth");
    if (!ok || X509_sign(cert.get(), issuer_key, EVP_sha256()) <= 0) {
        return nullptr;
    }
    return cert;
}

bool WriteCert(const std::string& path, X509* cert) {
    FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) {
        return false;
    }
    bool ok = PEM_write_X509(file, cert) == 1;
    return std::fclose(file) == 0 && ok;
}

bool WriteKey(const std::string& path, EVP_PKEY* key) {
    FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) {
        return false;
    }
    chmod(path.c_str(), 0600);
    bool ok = PEM_write_PrivateKey(file, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    return std::fclose(file) == 0 && ok;
}

}  // namespace

bool SimCertificateMaker::Make(const std::string& folder, std::string* error) {
    Key ca_key(EVP_EC_gen("P-256"));
    Key server_key(EVP_EC_gen("P-256"));
    if (!ca_key || !server_key) {
        *error = "cannot generate keys";
        ERR_clear_error();
        return false;
    }
    Cert ca = MakeCert(ca_key.get(), "zel-sim throwaway CA", 1, nullptr, ca_key.get(), true);
    Cert server = ca ? MakeCert(server_key.get(), "localhost", 2, ca.get(), ca_key.get(), false) : nullptr;
    if (!ca || !server) {
        *error = "cannot sign certificates";
        ERR_clear_error();
        return false;
    }
    mkdir(folder.c_str(), 0700);
    if (!WriteCert(CaFile(folder), ca.get()) || !WriteCert(CertFile(folder), server.get()) ||
        !WriteKey(KeyFile(folder), server_key.get())) {
        *error = "cannot write certificate files into " + folder;
        return false;
    }
    return true;
}

}  // namespace com::mivo::kmr::client
