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

bool SimTlsContext::Load(const std::string& cert_file, const std::string& key_file, std::string* error) {
    SslCtxOwner ctx(SSL_CTX_new(TLS_server_method()));
    if (!ctx) {
        *error = LastOpenSslError("cannot create TLS context");
        return false;
    }
    if (SSL_CTX_use_certificate_chain_file(ctx.get(), cert_file.c_str()) != 1) {
        *error = LastOpenSslError("cannot load certificate " + cert_file);
        return false;
    }
    if (SSL_CTX_use_PrivateKey_file(ctx.get(), key_file.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(ctx.get()) != 1) {
        *error = LastOpenSslError("cannot load private key " + key_file);
        return false;
    }
    m_ctx = std::move(ctx);
    return true;
}

}  // namespace com::mivo::kmr::client
