#pragma once
// The socket transport: one TCP connection to the server's alarm listener,
// opened once with a password handshake and kept open; the seven bytes
// "unmount" go out on it when an alarm comes. A close watcher thread tells
// whether the server still holds the connection.
//
// An order never goes into a connection known to be dead: whatever the
// server says after the handshake is read and dropped wherever the
// connection's end is looked for (by the watcher as it arrives, and before
// every order), so unread bytes never hide its FIN or reset. When the
// connection has ended, or a send on it failed, an order connects again
// (connect and handshake) and sends on the new connection: a server whose
// connection worked once keeps being tried over TCP at every order until a
// connection works again, whatever probes did meanwhile. Only a server whose
// TCP never worked leaves its orders to RPC at once. Keep-alive finds a
// connection that died without a word.
//
// Every step that waits on the server takes its time from the order's
// deadline (deadline.h) as well as from its own bound, name lookups
// included.
//
// Connect and SendAlarm may run at the same time on two threads. Connection
// attempts are serialised, an order waiting its turn no longer than its
// deadline; a connection is published to SendAlarm only after its handshake
// succeeded, and the socket is replaced or closed only under the lock that
// SendAlarm holds while it sends, so an alarm never goes out on a closed (or
// reused) socket handle.

#include <winsock2.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "connections/connector.h"
#include "connections/deadline.h"
#include "connections/socket_close_waitor.h"
#include "connections/unique_socket.h"

class SocketConnector : public Connector {
public:
    // Result of Connect when the password was refused or the handshake failed.
    static constexpr std::int32_t kPasswordRefused = ERROR_INVALID_PASSWORD;
    // How long a name lookup, a connection attempt and the handshake's reply
    // may each take: a server that accepts the connection but never answers
    // must not hold a probe or an alarm for good.
    static constexpr DWORD kLookupWaitMs = 10000;
    static constexpr DWORD kConnectWaitMs = 10000;
    static constexpr DWORD kReplyWaitMs = 10000;
    // Keep-alive of every connection: probes after this much silence, then
    // at this interval, so a peer gone without a word is noticed.
    static constexpr unsigned long kKeepAliveIdleMs = 10000;
    static constexpr unsigned long kKeepAliveIntervalMs = 1000;

    explicit SocketConnector(IQNServer* server);
    ~SocketConnector() override;

    std::int32_t Connect() override;
    // SendAlarmBy with the steps' own bounds only.
    std::int32_t SendAlarm() override;
    // Sends on the open connection; when that connection has ended and a
    // connection ever worked, connects again first, within deadline. Without
    // a connection that ever worked it fails at once (the entry then goes
    // over RPC).
    std::int32_t SendAlarmBy(Deadline deadline);
    // The fast part of SendAlarm: sends on the open connection if there is
    // one, never connects and never blocks. 0, or an error when the order
    // must take the slow way (SendAlarm).
    std::int32_t SendOnOpenConnection();

    // Whether a handshake ever succeeded on this connector.
    bool HasWorked() const noexcept { return m_worked; }

    // Reads what the server sent since the handshake and marks the open
    // connection lost when its server has ended it (its FIN or reset is
    // here), whether or not the close watcher has run: a send on it would
    // still succeed and its bytes be lost.
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
    std::int32_t ConnectLocked(Deadline deadline);
    // Opens a socket connected to address and to the low 16 bits of port,
    // non-blocking and with keep-alive.
    std::int32_t OpenSocket(const std::string& address, std::uint32_t port, unique_socket& socket,
                            Deadline deadline);
    // Sends "psw=" and the password, then takes one reply of at most 10 bytes.
    bool SendPassword(SOCKET socket, Deadline deadline);
    SOCKET WatchedSocket();
    // The watcher's part of NoticeEnd, when the socket says it can be read:
    // true when the connection has ended.
    bool DrainForWatcher();
    // The server ended the connection, or it can no longer be trusted.
    void OnConnectionEnded() noexcept;

    std::timed_mutex m_connectLock;
    std::mutex m_socketLock;
    unique_socket m_socket;
    // A handshake succeeded and nothing has shown the connection dead since.
    std::atomic<bool> m_open{false};
    std::atomic<bool> m_worked{false};
    SocketCloseWaitor m_waitor;
};
