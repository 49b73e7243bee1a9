#include "client/server_host.h"

#include <utility>

namespace com::mivo::kmr::client {

ServerHost::ServerHost() : m_port(0), m_ssl(false) {}

ServerHost::ServerHost(std::string ip, int port, bool ssl) : m_ip(std::move(ip)), m_port(port), m_ssl(ssl) {}

ServerHost::ServerHost(std::string address) : m_port(0), m_ssl(false) {
    const auto colon = address.find(':');
    if (colon == std::string::npos) {
        m_ip = address;
        m_port = std::stoi(address);
    } else {
        m_ip = address.substr(0, colon);
        m_port = std::stoi(address.substr(colon + 1));
    }
}

ServerHost::ServerHost(const ServerHost& other) = default;
ServerHost& ServerHost::operator=(const ServerHost& other) = default;
ServerHost::~ServerHost() = default;

std::string ServerHost::ToString() const {
    return m_ip + ":" + std::to_string(m_port);
}

}  // namespace com::mivo::kmr::client
