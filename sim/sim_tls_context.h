#pragma once

#include <string>

#include "client/ssl_owners.h"

namespace com::mivo::kmr::client {

// The server-side TLS context shared by every TLS listener of a service.
class SimTlsContext {
public:
    SimTlsContext() = default;
    SimTlsContext(const SimTlsContext&) = delete;
    SimTlsContext& operator=(const SimTlsContext&) = delete;

    // Loads a PEM certificate chain and its private key; false with the reason in error.
    bool Load(const std::string& cert_file, const std::string& key_file, std::string* error);
    SSL_CTX* Get() const { return m_ctx.get(); }

private:
    SslCtxOwner m_ctx;
};

}  // namespace com::mivo::kmr::client
