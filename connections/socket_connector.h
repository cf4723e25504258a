#pragma once
// The socket transport: one TCP connection to the server's alarm listener,
// opened once with a password handshake and kept open; the seven bytes
// "unmount" go out on it when an alarm comes. A close watcher thread tells
// whether the server still holds the connection.
//
// An order never goes into a connection known to be dead: when the watcher
// has seen the server end the connection, or a send on it failed, the alarm
// connects again (connect and handshake, each bounded) and sends on the new
// connection. Keep-alive finds a connection that died without a word.
//
// Connect and SendAlarm may run at the same time on two threads. Connection
// attempts are serialised; a connection is published to SendAlarm only after
// its handshake succeeded, and the socket is replaced or closed only under
// the lock that SendAlarm holds while it sends, so an alarm never goes out on
// a closed (or reused) socket handle.

#include <winsock2.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>
#include <string>

#include "connections/connector.h"
#include "connections/socket_close_waitor.h"
#include "connections/unique_socket.h"

class SocketConnector : public Connector {
public:
    // Result of Connect when the password was refused or the handshake failed.
    static constexpr std::int32_t kPasswordRefused = ERROR_INVALID_PASSWORD;
    // How long a connection attempt may take, and how long the handshake
    // waits for the server's reply: a server that accepts the connection but
    // never answers must not hold a probe or an alarm for good.
    static constexpr long kConnectWaitSeconds = 10;
    static constexpr long kReplyWaitSeconds = 10;
    // Keep-alive of every connection: probes after this much silence, then
    // at this interval, so a peer gone without a word is noticed.
    static constexpr unsigned long kKeepAliveIdleMs = 10000;
    static constexpr unsigned long kKeepAliveIntervalMs = 1000;

    explicit SocketConnector(IQNServer* server);
    ~SocketConnector() override;

    std::int32_t Connect() override;
    // Sends on the open connection; when that connection is known to have
    // ended, connects again first. Without a connection that ever worked it
    // fails at once (the entry then goes over RPC).
    std::int32_t SendAlarm() override;
    // The fast part of SendAlarm: sends on the open connection if there is
    // one, never connects and never blocks. 0, or an error when the order
    // must take the slow way (SendAlarm).
    std::int32_t SendOnOpenConnection();

    // Marks the open connection lost when its server has already ended it
    // (its FIN or reset is here), whether or not the close watcher has run:
    // a send on it would still succeed and its bytes be lost.
    void NoticeEnd();
    // The same for many connections with one look at all of them, before
    // orders go out on them.
    static void NoticeEndedConnections(const std::vector<SocketConnector*>& connectors);

    // True while the close watcher runs: the server has not closed the
    // connection since the handshake.
    bool IsConnected();

    // The open connection's socket, for reading its options back.
    SOCKET NativeSocket();

private:
    friend class SocketCloseWaitor;

    // Connect's work; the caller holds m_connectLock.
    std::int32_t ConnectLocked();
    // Opens a socket connected to address and to the low 16 bits of port,
    // non-blocking and with keep-alive.
    std::int32_t OpenSocket(const std::string& address, std::uint32_t port, unique_socket& socket);
    // Sends "psw=" and the password, then takes one reply of at most 10 bytes.
    bool SendPassword(SOCKET socket);
    SOCKET WatchedSocket();
    // The watcher saw the server end the connection.
    void OnConnectionEnded() noexcept;

    std::mutex m_connectLock;
    std::mutex m_socketLock;
    unique_socket m_socket;
    // A handshake succeeded and nothing has shown the connection dead since.
    std::atomic<bool> m_open{false};
    // The last connection that worked has ended: the next alarm reconnects.
    std::atomic<bool> m_lost{false};
    SocketCloseWaitor m_waitor;
};
