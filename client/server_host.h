#pragma once

#include <string>

#include "common/zel_export.h"

namespace com::mivo::kmr::client {

// A server address: dotted IPv4 text (never resolved), port and TLS flag.
class ZEL_API ServerHost {
public:
    ServerHost();
    ServerHost(std::string ip, int port, bool ssl);
    // Parses "ip:port"; the port goes through std::stoi, so a text without
    // digits throws std::invalid_argument and one beyond int std::out_of_range.
    explicit ServerHost(std::string address);
    ServerHost(const ServerHost& other);
    ServerHost& operator=(const ServerHost& other);
    ~ServerHost();

    const std::string& GetServerIp() const { return m_ip; }
    int GetServerPort() const { return m_port; }
    bool IsSsl() const { return m_ssl; }
    std::string ToString() const;

private:
    std::string m_ip;
    int m_port;
    bool m_ssl;
};

}  // namespace com::mivo::kmr::client
