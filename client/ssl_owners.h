#pragma once

#include <memory>

#include "common/zel_export.h"

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

namespace com::mivo::kmr::client {

// Owners of OpenSSL objects. A session handed to a TLS bufferevent made with
// BEV_OPT_CLOSE_ON_FREE belongs to the bufferevent from then on, also when
// the bufferevent could not be made: hand it over with release().

struct ZEL_API SslFree {
    void operator()(SSL* ssl) const;
};

// A context is reference counted: each owner holds one reference, and the
// context goes with the last of them.
struct ZEL_API SslCtxFree {
    void operator()(SSL_CTX* ctx) const;
};

using SslOwner = std::unique_ptr<SSL, SslFree>;
using SslCtxOwner = std::unique_ptr<SSL_CTX, SslCtxFree>;

// One more reference to ctx (an empty owner for null), so that the context
// outlives whoever made it for as long as the new owner needs it.
ZEL_API SslCtxOwner ShareSslCtx(SSL_CTX* ctx);

}  // namespace com::mivo::kmr::client
