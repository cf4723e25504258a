#pragma once
// The RPC transport: the disk server's alarm interface on its named pipe,
// called under the identity of the user logged on at the desktop, whose
// token is borrowed from the desktop shell process.
//
// A probe and an alarm may overlap on one connector: each operation keeps its
// binding and context handles to itself, and only the cached token is shared.
// Nothing the runtime raises escapes an operation: every call into the
// runtime runs under the exception guard of rpc_guard.h.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/unique_handle.h"
#include "connections/connector.h"

class RpcConnector : public Connector {
public:
    explicit RpcConnector(IQNServer* server);

    // RemoteOpen and, at once, RemoteClose: 0 when the server took the password.
    std::int32_t Connect() override;
    // RemoteOpen and RemoteAlarm; the context is left to the server.
    std::int32_t SendAlarm() override;

private:
    enum class Mode { Probe, Alarm };
    struct Operation;

    std::int32_t RunOperation(Mode mode);
    std::int32_t Bind(Operation& operation, const std::wstring& address,
                      const std::wstring& sequence);
    std::int32_t OpenContext(Operation& operation, const std::wstring& password);
    std::int32_t Alarm(Operation& operation);
    void CloseContext(Operation& operation);
    void Impersonate();

    const std::vector<std::wstring> m_protocolSequences{L"ncacn_np"};
    // Looked up on first use and replaced only when impersonation with it
    // fails; an operation holds its own reference while it uses the token.
    std::mutex m_tokenLock;
    std::shared_ptr<const KRVN::unique_handle> m_token;
};
