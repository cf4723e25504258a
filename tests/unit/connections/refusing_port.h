#pragma once
// A loopback port that refuses connections: bound, never listening, so a
// connection attempt gets WSAECONNREFUSED at once.

#include <winsock2.h>

#include "connections/unique_socket.h"

namespace krvn_test {

class RefusingPort {
public:
    RefusingPort() : m_socket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
        int length = sizeof address;
        ::getsockname(m_socket.get(), reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
    }
    ULONG Port() const noexcept { return m_port; }

private:
    unique_socket m_socket;
    ULONG m_port = 0;
};

} // namespace krvn_test
