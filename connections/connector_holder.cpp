#include "connections/connector_holder.h"

#include "connections/worker_pool.h"

ConnectorHolder::ConnectorHolder(IQNServer* server)
    : m_socket(std::make_shared<SocketConnector>(server)), m_rpc(server), m_server(server) {}

std::int32_t ConnectorHolder::Check() {
    std::int32_t code = 0;
    if (m_socket->GetPort() != 0) {
        if (!m_socket->IsConnected()) {
            code = m_socket->Connect();
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

std::int32_t ConnectorHolder::SendAlarm(AlarmTransport* transport, Deadline deadline) {
    AlarmTransport ignored;
    AlarmTransport& taken = transport ? *transport : ignored;
    if (m_socket->GetPort() == 0) {
        taken = AlarmTransport::Rpc;
        return m_rpc.SendAlarmBy(deadline);
    }
    taken = AlarmTransport::Tcp;
    m_socket->NoticeEnd();
    const std::int32_t sent = m_socket->SendOnOpenConnection();
    if (sent == 0) {
        return 0;
    }
    taken = AlarmTransport::TcpThenRpc;
    // A server whose TCP never worked gets RPC at once, beside the attempt.
    const DWORD headStartMs = m_socket->HasWorked() ? kRpcHeadStartMs : 0;
    const auto socket = m_socket;
    const auto reconnected =
        WorkerPool::Shared().Run([socket, deadline] { return socket->SendAlarmBy(deadline); });
    if (reconnected->WaitFor(MsLeft(deadline, headStartMs)) == PendingResult::Wait::Done &&
        reconnected->Result() == 0) {
        taken = AlarmTransport::Tcp;
        return 0;
    }
    if (m_rpc.SendAlarmBy(deadline) == 0) {
        return 0;
    }
    // RPC failed; the reconnection may still get through in time.
    if (reconnected->WaitFor(MsLeft(deadline)) != PendingResult::Wait::Done) {
        return WSAETIMEDOUT;
    }
    if (reconnected->Result() == 0) {
        taken = AlarmTransport::Tcp;
    }
    return reconnected->Result();
}

bool ConnectorHolder::CheckNow() {
    if (m_socket->GetPort() == 0 || !m_socket->IsConnected()) {
        return false;
    }
    SetStateCode(0);
    return true;
}

bool ConnectorHolder::SendAlarmNow() {
    return m_socket->GetPort() != 0 && m_socket->SendOnOpenConnection() == 0;
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
    return m_socket->GetAddress();
}
