#include "sim/sim_tls_context.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

namespace com::mivo::kmr::client {

namespace {

std::string LastOpenSslError(const std::string& what) {
    char text[256] = {0};
    unsigned long code = ERR_get_error();
    if (code != 0) {
        ERR_error_string_n(code, text, sizeof(text));
    }
    ERR_clear_error();
    return what + ": " + text;
}

}  // namespace

SimTlsContext::~SimTlsContext() {
    if (m_ctx != nullptr) {
        SSL_CTX_free(m_ctx);
    }
}

bool SimTlsContext::Load(const std::string& cert_file, const std::string& key_file, std::string* error) {
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    if (ctx == nullptr) {
        *error = LastOpenSslError("cannot create TLS context");
        return false;
    }
    if (SSL_CTX_use_certificate_chain_file(ctx, cert_file.c_str()) != 1) {
        *error = LastOpenSslError("cannot load certificate " + cert_file);
        SSL_CTX_free(ctx);
        return false;
    }
    if (SSL_CTX_use_PrivateKey_file(ctx, key_file.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(ctx) != 1) {
        *error = LastOpenSslError("cannot load private key " + key_file);
        SSL_CTX_free(ctx);
        return false;
    }
    if (m_ctx != nullptr) {
        SSL_CTX_free(m_ctx);
    }
    m_ctx = ctx;
    return true;
}

}  // namespace com::mivo::kmr::client
