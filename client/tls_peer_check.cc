#include "client/tls_peer_check.h"

#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include "common/base_config.h"
#include "common/base_log.h"

namespace com::mivo::kmr::client {

bool TlsPeerCheck::MayReach(int site_type, const ServerHost& host) {
    const BaseConfig& config = BaseConfig::GetInstance();
    if (!config.IsUseSSL() || host.IsSsl()) {
        return true;
    }
    if (config.IsRefusePlainNodes()) {
        ErrorPrint(
            "Datafeed node %s of site type %d is not TLS although TLS is on: refused "
            "(nuvexia_config_refuse_plain_nodes)",
            host.ToString().c_str(), site_type);
        return false;
    }
    WarnPrint(
        "Datafeed node %s of site type %d is not TLS although TLS is on: the session token travels in "
        "clear",
        host.ToString().c_str(), site_type);
    return true;
}

bool TlsPeerCheck::BindToAddress(SSL* ssl, const std::string& address) {
    if (ssl == nullptr || (SSL_get_verify_mode(ssl) & SSL_VERIFY_PEER) == 0 ||
        !BaseConfig::GetInstance().IsVerifyServerAddress()) {
        return true;
    }
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
    // set1_ip_asc accepts IPv4 and IPv6 text and nothing else.
    if (X509_VERIFY_PARAM_set1_ip_asc(param, address.c_str()) == 1) {
        return true;
    }
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    if (X509_VERIFY_PARAM_set1_host(param, address.c_str(), address.size()) == 1) {
        return true;
    }
    ErrorPrint("Cannot check the server certificate against address %s", address.c_str());
    return false;
}

}  // namespace com::mivo::kmr::client
