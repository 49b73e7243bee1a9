#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace com::mivo::kmr::client::testing {

// A listening TCP socket on 127.0.0.1 at a port the system picks, closed
// with the object. Test peers and benchmark nodes accept on it.
class LoopbackListener {
public:
    explicit LoopbackListener(int backlog = 8) {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        m_ok = m_fd >= 0 && ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
               ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
               ::listen(m_fd, backlog) == 0;
        m_port = ntohs(address.sin_port);
    }
    ~LoopbackListener() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    // false when the socket could not be set up.
    bool Ok() const { return m_ok; }
    int Fd() const { return m_fd; }
    int Port() const { return m_port; }
    // The next connection, or -1 (also once Shutdown was called).
    int Accept() const { return ::accept(m_fd, nullptr, nullptr); }
    // Wakes a thread blocked in Accept; the socket stays open until destruction.
    void Shutdown() const { ::shutdown(m_fd, SHUT_RDWR); }

private:
    int m_fd = -1;
    int m_port = 0;
    bool m_ok = false;
};

}  // namespace com::mivo::kmr::client::testing
