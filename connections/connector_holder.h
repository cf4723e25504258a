#pragma once
// The service's working record of one disk server: the server object and the
// two transports that reach it. From the server's Port it chooses which
// transport is tried, and it records each probe's result in the object's
// StateCode. Entries are shared (std::shared_ptr: interlocked count);
// whoever works on one outside the manager lock holds a reference of its own.
//
// Check and SendAlarm may run at the same time on two threads.
//
// An order that finds no open connection connects on a worker and, once the
// connection has had kRpcHeadStartMs (at once for a server whose TCP never
// worked) or has failed, sends over RPC beside it: a connection that hangs
// can take all of the order's time, and RPC's own bound must still end
// within it. A server reachable either way gets the order within the
// deadline; one that takes both gets it twice, which is harmless, where
// losing it is not.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "com/com_ptr.h"
#include "connections/deadline.h"
#include "connections/pending_result.h"
#include "connections/rpc_connector.h"
#include "connections/socket_connector.h"
#include "contract/TolvaneLib.h"

// The way an order took: the socket alone, RPC alone, or the socket and,
// when its send failed, RPC.
enum class AlarmTransport { Tcp, Rpc, TcpThenRpc };

class ConnectorHolder {
public:
    // StateCode of a server object that was never probed.
    static constexpr std::int32_t kNeverProbed = -1;
    // How long a reconnection goes alone before RPC is tried beside it:
    // enough for a server that came back to take a new connection, early
    // enough for an RPC operation to end within a pass's bound.
    static constexpr DWORD kRpcHeadStartMs = 2000;

    explicit ConnectorHolder(IQNServer* server);
    virtual ~ConnectorHolder() = default;
    ConnectorHolder(const ConnectorHolder&) = delete;
    ConnectorHolder& operator=(const ConnectorHolder&) = delete;

    // Probes the server, stores the result as its StateCode and returns it.
    // With a Port, the socket is tried (nothing is sent while its connection
    // is up); when it fails the RPC probe runs as well, but the socket's
    // error is the result. Without a Port only RPC is used.
    std::int32_t Check();
    // Sends the unmount order: over the socket when there is a Port, over RPC
    // when there is none or the socket send failed (see above), every step
    // within deadline. StateCode is unchanged. transport, when given,
    // receives the way the order took.
    std::int32_t SendAlarm(AlarmTransport* transport = nullptr, Deadline deadline = kNoDeadline);
    // The part of SendAlarm that cannot block: true when the order went out
    // on the open connection (AlarmTransport::Tcp); false when it must take
    // SendAlarm's way.
    bool SendAlarmNow();

    // The part of Check that cannot block: true, with 0 stored, when the
    // socket connection is up (nothing to send); false when the probe must
    // go to the network.
    bool CheckNow();

    // The probe of this entry that runs on a worker: the one still running,
    // if any (a probe abandoned by a stopped checker is joined, never run
    // twice at once), else the one that start begins.
    std::shared_ptr<PendingResult>
    ProbeInFlight(const std::function<std::shared_ptr<PendingResult>()>& start);

    // kNeverProbed when the object cannot tell.
    std::int32_t GetStateCode() const;
    void SetStateCode(std::int32_t code);
    std::wstring GetAddress() const;
    KRVN::com_ptr<IQNServer> GetServer() const { return m_server; }

    SocketConnector& SocketTransport() noexcept { return *m_socket; }
    RpcConnector& RpcTransport() noexcept { return m_rpc; }

private:
    // Destroyed in reverse: the server reference first, then RPC, then socket.
    // The socket transport is shared with a reconnection that may outlive
    // the order that started it.
    const std::shared_ptr<SocketConnector> m_socket;
    RpcConnector m_rpc;
    KRVN::com_ptr<IQNServer> m_server;
    std::mutex m_probeLock;
    std::shared_ptr<PendingResult> m_probe;
};
