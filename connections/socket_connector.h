#pragma once
// The socket transport: one TCP connection to the server's alarm listener,
// opened once with a password handshake and kept open; the seven bytes
// "unmount" go out on it when an alarm comes. A close watcher thread tells
// whether the server still holds the connection.
//
// Connect and SendAlarm may run at the same time on two threads. A connection
// is published to SendAlarm only after its handshake succeeded, and the socket
// is replaced or closed only under the lock that SendAlarm holds while it
// sends, so an alarm never goes out on a closed (or reused) socket handle.

#include <winsock2.h>

#include <cstdint>
#include <mutex>
#include <string>

#include "connections/connector.h"
#include "connections/socket_close_waitor.h"
#include "connections/unique_socket.h"

class SocketConnector : public Connector {
public:
    // Result of Connect when the password was refused or the handshake failed.
    static constexpr std::int32_t kPasswordRefused = 86; // ERROR_INVALID_PASSWORD
    // How long the handshake waits for the server's reply. A server that
    // accepts the connection but never answers would otherwise hold the
    // probing thread (and the manager lock it holds) for good.
    static constexpr long kReplyWaitSeconds = 10;

    explicit SocketConnector(IQNServer* server);
    ~SocketConnector() override;

    std::int32_t Connect() override;
    std::int32_t SendAlarm() override;

    // True while the close watcher runs: the server has not closed the
    // connection since the handshake.
    bool IsConnected();

private:
    friend class SocketCloseWaitor;

    // Opens a socket connected to address and to the low 16 bits of port.
    std::int32_t OpenSocket(const std::string& address, std::uint32_t port, unique_socket& socket);
    // Sends "psw=" and the password, then takes one reply of at most 10 bytes.
    bool SendPassword(SOCKET socket);
    SOCKET WatchedSocket();

    std::mutex m_socketLock;
    unique_socket m_socket;
    SocketCloseWaitor m_waitor;
};
