#include "connections/rpc_connector.h"

#include <cstdio>
#include <new>

#include "connections/alarm_rpc.h"
#include "connections/find_process_by_name.h"
#include "connections/guarded_rpc_owners.h"

// The handles of one operation. The context goes first: the runtime ties it
// to the binding it was opened on.
struct RpcConnector::Operation {
    guarded_rpc_binding binding;
    guarded_client_context context;
};

namespace {

// All token access rights as the NT 5 headers define them.
constexpr DWORD kTokenAllAccess = 0xF01FF;

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

} // namespace

RpcConnector::RpcConnector(IQNServer* server) : Connector(server) {}

std::int32_t RpcConnector::Connect() {
    return RunOperation(Mode::Probe);
}

std::int32_t RpcConnector::SendAlarm() {
    return RunOperation(Mode::Alarm);
}

std::int32_t RpcConnector::RunOperation(Mode mode) {
    // Impersonation belongs to this thread and ends with this call.
    const auto revert = KRVN::scope_exit([] {
        if (!::RevertToSelf()) {
            std::printf("RevertToSelf() = %#x\n", static_cast<unsigned>(::GetLastError()));
        }
    });
    try {
        Impersonate();
        const std::wstring address = GetAddress();
        const std::wstring password = GetPassword();
        std::int32_t result = 0;
        for (const std::wstring& sequence : m_protocolSequences) {
            Operation operation;
            result = Bind(operation, address, sequence);
            if (result != 0) {
                continue;
            }
            result = OpenContext(operation, password);
            if (result != 0) {
                if (mode == Mode::Probe) {
                    CloseContext(operation);
                }
                continue;
            }
            // After an alarm the context is left to the server: the
            // operation's owners free only the client's side of it.
            if (mode == Mode::Alarm) {
                result = Alarm(operation);
            } else {
                CloseContext(operation);
            }
            break;
        }
        return result;
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

std::int32_t RpcConnector::Bind(Operation& operation, const std::wstring& address,
                                const std::wstring& sequence) {
    BindCall call{sequence.c_str(), address.c_str(), nullptr, nullptr, RPC_S_OK};
    const unsigned long exceptionCode = KrvnRunGuarded(&GuardedBind, &call);
    const guarded_rpc_string text(call.text);
    operation.binding.reset(call.binding);
    return StepStatus(exceptionCode, call.status);
}

std::int32_t RpcConnector::OpenContext(Operation& operation, const std::wstring& password) {
    OpenCall call{operation.binding.get(), password.c_str(), nullptr, 0};
    const unsigned long exceptionCode = KrvnRunGuarded(&GuardedOpen, &call);
    operation.context.reset(call.context);
    return StepStatus(exceptionCode, call.result);
}

std::int32_t RpcConnector::Alarm(Operation& operation) {
    ContextCall call{operation.context.get(), 0};
    const unsigned long exceptionCode = KrvnRunGuarded(&GuardedAlarm, &call);
    return StepStatus(exceptionCode, call.result);
}

void RpcConnector::CloseContext(Operation& operation) {
    if (operation.context) {
        ContextCall call{operation.context.release(), 0};
        KrvnRunGuarded(&GuardedClose, &call);
        // The server's answer clears the context; if the call failed, only
        // the client's side is left to free.
        operation.context.reset(call.context);
    }
    operation.binding.reset();
}

void RpcConnector::Impersonate() {
    std::shared_ptr<const KRVN::unique_handle> token;
    {
        std::lock_guard<std::mutex> hold(m_tokenLock);
        token = m_token;
    }
    if (!token) {
        const KRVN::unique_handle shell = FindProcessByName(L"explorer.exe");
        KRVN::unique_handle found;
        if (shell && ::OpenProcessToken(shell.get(), kTokenAllAccess, found.put())) {
            auto candidate = std::make_shared<const KRVN::unique_handle>(std::move(found));
            std::lock_guard<std::mutex> hold(m_tokenLock);
            // Another operation may have cached one meanwhile; keep the first.
            if (!m_token) {
                m_token = std::move(candidate);
            }
            token = m_token;
        }
    }
    if (token && !::ImpersonateLoggedOnUser(token->get())) {
        std::lock_guard<std::mutex> hold(m_tokenLock);
        if (m_token == token) {
            m_token.reset();
        }
    }
}
