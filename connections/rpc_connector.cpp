#include "connections/rpc_connector.h"

#include <atomic>
#include <new>

#include "connections/alarm_rpc.h"
#include "connections/find_process_by_name.h"
#include "connections/guarded_rpc_owners.h"
#include "connections/impersonation_end.h"
#include "connections/worker_pool.h"

namespace {

// What ImpersonateLoggedOnUser needs of the desktop user's token (a primary
// token wants query and duplicate access), and nothing more.
constexpr DWORD kTokenAccess = TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_IMPERSONATE;
// WTSGetActiveConsoleSessionId's answer while no session is at the console.
constexpr DWORD kNoConsoleSession = 0xFFFFFFFF;

// The guarded steps below hold only plain data: an exception raised by the
// runtime unwinds through them without running destructors.

struct BindCall {
    const wchar_t* sequence;
    const wchar_t* address;
    RPC_WSTR text;
    RPC_BINDING_HANDLE binding;
    RPC_STATUS status;
};

void GuardedBind(void* raw) {
    auto& call = *static_cast<BindCall*>(raw);
    call.status = ::RpcStringBindingComposeW(
        nullptr, reinterpret_cast<RPC_WSTR>(const_cast<wchar_t*>(call.sequence)),
        reinterpret_cast<RPC_WSTR>(const_cast<wchar_t*>(call.address)), nullptr, nullptr,
        &call.text);
    if (call.status != RPC_S_OK) {
        return;
    }
    call.status = ::RpcBindingFromStringBindingW(call.text, &call.binding);
    if (call.status != RPC_S_OK) {
        return;
    }
    // The endpoint comes from the interface's declaration for the sequence.
    call.status = ::RpcEpResolveBinding(call.binding, QnsrvAlarm_v1_0_c_ifspec);
}

struct OpenCall {
    RPC_BINDING_HANDLE binding;
    const wchar_t* password;
    ALARM_CONTEXT context;
    long result;
};

void GuardedOpen(void* raw) {
    auto& call = *static_cast<OpenCall*>(raw);
    call.result = RemoteOpen(call.binding, call.password, &call.context);
}

struct ContextCall {
    ALARM_CONTEXT context;
    long result;
};

void GuardedAlarm(void* raw) {
    auto& call = *static_cast<ContextCall*>(raw);
    call.result = RemoteAlarm(call.context);
}

void GuardedClose(void* raw) {
    auto& call = *static_cast<ContextCall*>(raw);
    call.result = RemoteClose(&call.context);
}

// A raised exception's code wins over the status the step would have set.
std::int32_t StepStatus(unsigned long exceptionCode, long status) {
    return static_cast<std::int32_t>(exceptionCode != 0 ? exceptionCode
                                                        : static_cast<unsigned long>(status));
}

// The handles of one operation. The context goes first: the runtime ties it
// to the binding it was opened on.
struct Operation {
    guarded_rpc_binding binding;
    guarded_client_context context;
};

// Everything one operation needs, owned by the operation itself: its caller
// may stop waiting and the connector go away before it ends.
struct Request {
    RpcConnector::Mode mode;
    std::vector<std::wstring> sequences;
    std::wstring address;
    SecretWString password;
    RpcConnector::Token token;
    std::atomic<bool> impersonationFailed{false};
};

std::int32_t Bind(Operation& operation, const std::wstring& address, const std::wstring& sequence) {
    BindCall call{sequence.c_str(), address.c_str(), nullptr, nullptr, RPC_S_OK};
    const unsigned long exceptionCode = KrvnRunGuarded(&GuardedBind, &call);
    const guarded_rpc_string text(call.text);
    operation.binding.reset(call.binding);
    return StepStatus(exceptionCode, call.status);
}

std::int32_t OpenContext(Operation& operation, const std::wstring& password) {
    OpenCall call{operation.binding.get(), password.c_str(), nullptr, 0};
    const unsigned long exceptionCode = KrvnRunGuarded(&GuardedOpen, &call);
    operation.context.reset(call.context);
    return StepStatus(exceptionCode, call.result);
}

std::int32_t Alarm(Operation& operation) {
    ContextCall call{operation.context.get(), 0};
    const unsigned long exceptionCode = KrvnRunGuarded(&GuardedAlarm, &call);
    return StepStatus(exceptionCode, call.result);
}

void CloseContext(Operation& operation) {
    if (operation.context) {
        ContextCall call{operation.context.release(), 0};
        KrvnRunGuarded(&GuardedClose, &call);
        // The server's answer clears the context; if the call failed, only
        // the client's side is left to free.
        operation.context.reset(call.context);
    }
    operation.binding.reset();
}

// One operation on the calling (worker) thread, as the desktop user.
std::int32_t RunOperation(Request& request) {
    // Impersonation belongs to this thread and ends with this call; a worker
    // that cannot end it ends the process.
    const auto revert = KRVN::scope_exit([] { EndImpersonation(); });
    if (request.token && !::ImpersonateLoggedOnUser(request.token->get())) {
        request.impersonationFailed = true;
    }
    std::int32_t result = 0;
    for (const std::wstring& sequence : request.sequences) {
        Operation operation;
        result = Bind(operation, request.address, sequence);
        if (result != 0) {
            continue;
        }
        result = OpenContext(operation, request.password.Text());
        if (result != 0) {
            if (request.mode == RpcConnector::Mode::Probe) {
                CloseContext(operation);
            }
            continue;
        }
        // After an alarm the context is left to the server: the
        // operation's owners free only the client's side of it.
        if (request.mode == RpcConnector::Mode::Alarm) {
            result = Alarm(operation);
        } else {
            CloseContext(operation);
        }
        break;
    }
    return result;
}

} // namespace

RpcConnector::RpcConnector(IQNServer* server) : Connector(server) {}

std::int32_t RpcConnector::Connect() {
    return RunBounded(Mode::Probe, kNoDeadline);
}

std::int32_t RpcConnector::SendAlarm() {
    return RunBounded(Mode::Alarm, kNoDeadline);
}

std::int32_t RpcConnector::SendAlarmBy(Deadline deadline) {
    return RunBounded(Mode::Alarm, deadline);
}

std::int32_t RpcConnector::RunBounded(Mode mode, Deadline deadline) {
    auto& overran = m_overran[mode == Mode::Probe ? 0 : 1];
    {
        std::lock_guard<std::mutex> hold(m_overranLock);
        if (overran && !overran->IsDone()) {
            return PendingResult::kTimedOut;
        }
        overran.reset();
    }
    std::shared_ptr<Request> request;
    try {
        request = std::make_shared<Request>();
        request->mode = mode;
        request->sequences = m_protocolSequences;
        request->address = GetAddress();
        request->password = GetPassword();
        request->token = UserToken();
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    const auto pending = WorkerPool::Shared().Run([request] { return RunOperation(*request); });
    if (pending->WaitFor(MsLeft(deadline, kOperationBoundMs)) != PendingResult::Wait::Done) {
        std::lock_guard<std::mutex> hold(m_overranLock);
        overran = pending;
        return PendingResult::kTimedOut;
    }
    if (request->impersonationFailed) {
        ForgetToken(request->token);
    }
    return pending->Result();
}

RpcConnector::Token RpcConnector::UserToken() {
    // The user at the console now, never a user of another session.
    const DWORD console = ::WTSGetActiveConsoleSessionId();
    {
        std::lock_guard<std::mutex> hold(m_tokenLock);
        const bool loggedOff = m_shell && ::WaitForSingleObject(m_shell.get(), 0) == WAIT_OBJECT_0;
        if (m_token && m_tokenSession == console && !loggedOff) {
            return m_token;
        }
        m_token.reset();
        m_shell.reset();
    }
    if (console == kNoConsoleSession) {
        return nullptr;
    }
    // Enough to open its token and to see it end at logoff.
    KRVN::unique_handle shell = FindProcessByName(L"explorer.exe", console,
                                                  PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE);
    KRVN::unique_handle found;
    if (!shell || !::OpenProcessToken(shell.get(), kTokenAccess, found.put())) {
        // Nobody logged on: the operation runs as the service.
        return nullptr;
    }
    auto candidate = std::make_shared<const KRVN::unique_handle>(std::move(found));
    std::lock_guard<std::mutex> hold(m_tokenLock);
    // Another operation may have cached one meanwhile; keep the first.
    if (!m_token) {
        m_token = std::move(candidate);
        m_tokenSession = console;
        m_shell = std::move(shell);
    }
    return m_token;
}

void RpcConnector::ForgetToken(const Token& token) {
    std::lock_guard<std::mutex> hold(m_tokenLock);
    if (m_token == token) {
        m_token.reset();
    }
}
