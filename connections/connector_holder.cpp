#include "connections/connector_holder.h"

ConnectorHolder::ConnectorHolder(IQNServer* server)
    : m_socket(server), m_rpc(server), m_server(server) {}

std::int32_t ConnectorHolder::Check() {
    std::int32_t code = 0;
    if (m_socket.GetPort() != 0) {
        if (!m_socket.IsConnected()) {
            code = m_socket.Connect();
            if (code != 0) {
                // Run for its effect on the server only; the socket's error stands.
                m_rpc.Connect();
            }
        }
    } else {
        code = m_rpc.Connect();
    }
    SetStateCode(code);
    return code;
}

std::int32_t ConnectorHolder::SendAlarm(AlarmTransport* transport) {
    const bool socketMode = m_socket.GetPort() != 0;
    AlarmTransport ignored;
    AlarmTransport& taken = transport ? *transport : ignored;
    taken = socketMode ? AlarmTransport::Tcp : AlarmTransport::Rpc;
    std::int32_t socketCode = 0;
    if (socketMode) {
        socketCode = m_socket.SendAlarm();
        if (socketCode == 0) {
            return 0;
        }
        taken = AlarmTransport::TcpThenRpc;
    }
    const std::int32_t rpcCode = m_rpc.SendAlarm();
    if (rpcCode == 0) {
        return 0;
    }
    return socketMode ? socketCode : rpcCode;
}

bool ConnectorHolder::CheckNow() {
    if (m_socket.GetPort() == 0 || !m_socket.IsConnected()) {
        return false;
    }
    SetStateCode(0);
    return true;
}

bool ConnectorHolder::SendAlarmNow() {
    return m_socket.GetPort() != 0 && m_socket.SendOnOpenConnection() == 0;
}

std::shared_ptr<PendingResult>
ConnectorHolder::ProbeInFlight(const std::function<std::shared_ptr<PendingResult>()>& start) {
    std::lock_guard<std::mutex> hold(m_probeLock);
    if (!m_probe || m_probe->IsDone()) {
        m_probe = start();
    }
    return m_probe;
}

std::int32_t ConnectorHolder::GetStateCode() const {
    LONG code = kNeverProbed;
    if (!m_server || FAILED(m_server->get_StateCode(&code))) {
        return kNeverProbed;
    }
    return code;
}

void ConnectorHolder::SetStateCode(std::int32_t code) {
    if (m_server) {
        m_server->put_StateCode(code);
    }
}

std::wstring ConnectorHolder::GetAddress() const {
    return m_socket.GetAddress();
}
