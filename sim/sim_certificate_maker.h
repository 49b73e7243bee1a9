#pragma once

#include <string>

namespace com::mivo::kmr::client {

// Makes a throwaway certificate authority and a server certificate signed by it, for TLS tests and demos.
// Nothing made here is meant to outlive the run that made it.
class SimCertificateMaker {
public:
    // Writes <folder>/ca.pem (the authority's certificate, for clients to trust), <folder>/server.pem and
    // <folder>/server.key (for the service). The server certificate names localhost and 127.0.0.1-127.0.0.4.
    // The authority's key is never written. False with the reason in error.
    static bool Make(const std::string& folder, std::string* error);

    static std::string CaFile(const std::string& folder) { return folder + "/ca.pem"; }
    static std::string CertFile(const std::string& folder) { return folder + "/server.pem"; }
    static std::string KeyFile(const std::string& folder) { return folder + "/server.key"; }
};

}  // namespace com::mivo::kmr::client
