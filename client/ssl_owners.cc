#include "client/ssl_owners.h"

#include <openssl/ssl.h>

namespace com::mivo::kmr::client {

void SslFree::operator()(SSL* ssl) const {
    SSL_free(ssl);
}

void SslCtxFree::operator()(SSL_CTX* ctx) const {
    SSL_CTX_free(ctx);
}

SslCtxOwner ShareSslCtx(SSL_CTX* ctx) {
    if (ctx == nullptr || SSL_CTX_up_ref(ctx) != 1) {
        return SslCtxOwner();
    }
    return SslCtxOwner(ctx);
}

}  // namespace com::mivo::kmr::client
