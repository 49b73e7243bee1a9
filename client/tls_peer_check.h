#pragma once

#include <string>

#include "client/server_host.h"

typedef struct ssl_st SSL;

namespace com::mivo::kmr::client {

// What TLS promises a connection beyond encryption: that a node is not
// reached in clear unnoticed, and that a verified certificate belongs to the
// address that was dialled, not merely to someone the CA knows.
class TlsPeerCheck {
public:
    // With TLS on, a node the table marks plain is logged (warning) and, when
    // the configuration refuses plain nodes, refused (error line, false).
    static bool MayReach(int site_type, const ServerHost& host);

    // When the session's context verifies the peer (a CA file is configured)
    // and the address check is on, the certificate must name address: an
    // IP address as such, anything else as a host name. False when the check
    // could not be set up (the session must then not be used).
    static bool BindToAddress(SSL* ssl, const std::string& address);
};

}  // namespace com::mivo::kmr::client
