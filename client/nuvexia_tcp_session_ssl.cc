// TLS client context of the session: made here, shared by the discovery
// client and every datafeed connection, each holding a reference.
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <cstdio>

#include "client/nuvexia_tcp_session.h"
#include "common/base_config.h"
#include "common/base_log.h"
#include "common/result_codes.h"

namespace com::mivo::kmr::client {

namespace {

// Keeps OpenSSL's own chain verdict: nothing is accepted that the library
// rejected, nothing rejected that it accepted.
int KeepLibraryVerdict(int preverify_ok, X509_STORE_CTX* store) {
    (void)store;
    return preverify_ok;
}

constexpr int kVerifyDepth = 4;

}  // namespace

int NuvexiaTcpSession::SslEnvInit() {
    if (m_ssl_ctx) {
        return 0;
    }
    OPENSSL_init_ssl(0, nullptr);
    OPENSSL_init_crypto(OPENSSL_INIT_ADD_ALL_CIPHERS | OPENSSL_INIT_ADD_ALL_DIGESTS, nullptr);
    OPENSSL_init_crypto(OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
    OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);

    const std::string cert_path = BaseConfig::GetInstance().GetSSLCertfolder();

    m_ssl_ctx.reset(SSL_CTX_new(TLS_client_method()));
    if (!m_ssl_ctx) {
        ErrorPrint("Create ssl ctx failed!");
        return RESULT_TLS_FAILED;
    }

    if (!cert_path.empty()) {
        InfoPrint("cert_folder:%s", cert_path.c_str());
        if (LoadCustomCertificate(cert_path)) {
            m_ssl_enabled = true;
            return 0;
        }
        ErrorPrint("Load or verify self CA file failed");
    } else {
        InfoPrint("11cert_folder:%s", cert_path.c_str());
        if (SSL_CTX_set_default_verify_file(m_ssl_ctx.get()) == 1) {
            WarnPrint(
                "TLS peer is not verified: no CA file is configured (nuvexia_config_cert_folder), so any "
                "server "
                "certificate is accepted");
            m_ssl_enabled = true;
            return 0;
        }
        ErrorPrint("Load or verify CA file failed");
    }
    FreeSslCtx();
    return RESULT_TLS_FAILED;
}

bool NuvexiaTcpSession::LoadCustomCertificate(const std::string& path) {
    if (SSL_CTX_load_verify_locations(m_ssl_ctx.get(), path.c_str(), nullptr) != 1) {
        ErrorPrint("Failed to load verify locations\n");
        ERR_print_errors_fp(stderr);
        return false;
    }
    SSL_CTX_set_verify(m_ssl_ctx.get(), SSL_VERIFY_PEER, KeepLibraryVerdict);
    SSL_CTX_set_verify_depth(m_ssl_ctx.get(), kVerifyDepth);
    return true;
}

void NuvexiaTcpSession::FreeSslCtx() {
    // Connections that still hold a reference keep the context until they go.
    m_ssl_ctx.reset();
}

}  // namespace com::mivo::kmr::client
