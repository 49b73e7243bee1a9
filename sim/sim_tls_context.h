#pragma once

#include <string>

typedef struct ssl_ctx_st SSL_CTX;

namespace com::mivo::kmr::client {

// The server-side TLS context shared by every TLS listener of a service.
class SimTlsContext {
public:
    SimTlsContext() = default;
    ~SimTlsContext();
    SimTlsContext(const SimTlsContext&) = delete;
    SimTlsContext& operator=(const SimTlsContext&) = delete;

    // Loads a PEM certificate chain and its private key; false with the reason in error.
    bool Load(const std::string& cert_file, const std::string& key_file, std::string* error);
    SSL_CTX* Get() const { return m_ctx; }

private:
    SSL_CTX* m_ctx = nullptr;
};

}  // namespace com::mivo::kmr::client
