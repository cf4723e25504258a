#pragma once
// The RPC transport: the disk server's alarm interface on its named pipe,
// called under the identity of the user logged on at the desktop, whose
// token is borrowed from the desktop shell process.
//
// The user is the one at the console now: the token is taken from that
// session's desktop shell, and looked up again when the session at the
// console changes or its shell has ended (the user logged off).
//
// A server that accepts the pipe and never answers must not hold its caller:
// each operation runs on a worker and its caller waits at most
// kOperationBoundMs. An operation that overran is left to finish on its
// worker; until it has, further operations of its kind fail at once, so a
// hung server ties up one worker per kind, not one per attempt.
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
#include "connections/deadline.h"
#include "connections/pending_result.h"

class RpcConnector : public Connector {
public:
    // Bind, open and alarm or close together, as the caller sees them.
    static constexpr DWORD kOperationBoundMs = 8000;

    explicit RpcConnector(IQNServer* server);

    // RemoteOpen and, at once, RemoteClose: 0 when the server took the password.
    std::int32_t Connect() override;
    // RemoteOpen and RemoteAlarm; the context is left to the server.
    std::int32_t SendAlarm() override;
    // The same, waited for no longer than deadline.
    std::int32_t SendAlarmBy(Deadline deadline);

    enum class Mode { Probe, Alarm };
    using Token = std::shared_ptr<const KRVN::unique_handle>;

private:
    std::int32_t RunBounded(Mode mode, Deadline deadline);
    // The console user's token, looked up when none is cached for the
    // session at the console.
    Token UserToken();
    // Forgets token (unless another replaced it meanwhile): impersonation
    // with it failed, so the next operation looks the user up again.
    void ForgetToken(const Token& token);

    const std::vector<std::wstring> m_protocolSequences{L"ncacn_np"};
    std::mutex m_tokenLock;
    Token m_token;
    DWORD m_tokenSession = 0;
    // The shell the token came from: its end means the user logged off.
    KRVN::unique_handle m_shell;
    // The operation of each kind that overran its bound, until it ends.
    std::mutex m_overranLock;
    std::shared_ptr<PendingResult> m_overran[2];
};
