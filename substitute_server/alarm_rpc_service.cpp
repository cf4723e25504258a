#include "substitute_server/alarm_rpc_service.h"

#include <algorithm>

#include "common/code_page.h"
#include "common/unique_handle.h"

namespace {

const char kWhere[] = "ncacn_np:\\pipe\\qnvx\\qnsrv_alarm";
// Result of RemoteOpen for a wrong password when no other result was chosen.
constexpr long kLogonFailure = ERROR_LOGON_FAILURE;
// Result of a hung call, answered only as the server stops.
constexpr long kStopping = ERROR_SHUTDOWN_IN_PROGRESS;

// The stub's routines reach the one service of the process through this.
AlarmRpcService* g_service = nullptr;

struct AlarmContext {
    int id;
};

std::string ContextId(ALARM_CONTEXT context) {
    return context ? std::to_string(static_cast<AlarmContext*>(context)->id) : "-";
}

void __RPC_STUB LoggingDispatch(PRPC_MESSAGE message) {
    g_service->LogRequest(*message);
    ::NdrServerCall2(message);
}

} // namespace

extern "C" LONG __cdecl ServeRemoteOpen(handle_t, const wchar_t* password, ALARM_CONTEXT* context) {
    return g_service->Open(password, context);
}

extern "C" LONG __cdecl ServeRemoteAlarm(ALARM_CONTEXT context) {
    return g_service->Alarm(context);
}

extern "C" LONG __cdecl ServeRemoteClose(ALARM_CONTEXT* context) {
    return g_service->Close(context);
}

extern "C" void __RPC_USER ALARM_CONTEXT_rundown(ALARM_CONTEXT context) {
    g_service->Rundown(context);
}

AlarmRpcService::AlarmRpcService(EventLog& log, const Options& options)
    : m_log(log), m_options(options),
      m_interface(*static_cast<const RPC_SERVER_INTERFACE*>(ServeQnsrvAlarm_v1_0_s_ifspec)),
      m_dispatch{LoggingDispatch, LoggingDispatch, LoggingDispatch}, m_dispatchTable{3, m_dispatch,
                                                                                     0} {
    // The stub's interface, with a dispatch table that logs each request
    // before handing it to the stub's interpreter.
    m_interface.DispatchTable = &m_dispatchTable;
    g_service = this;
}

AlarmRpcService::~AlarmRpcService() {
    m_release.SetEvent();
    if (m_listening) {
        ::RpcMgmtStopServerListening(nullptr);
        ::RpcMgmtWaitServerListen();
    }
    if (m_mapped) {
        RPC_BINDING_VECTOR* bindings = nullptr;
        if (::RpcServerInqBindings(&bindings) == RPC_S_OK) {
            ::RpcEpUnregister(&m_interface, bindings, nullptr);
            ::RpcBindingVectorFree(&bindings);
        }
    }
    if (m_registered) {
        ::RpcServerUnregisterIf(&m_interface, nullptr, TRUE);
    }
    g_service = nullptr;
}

RPC_STATUS AlarmRpcService::Start() {
    const auto fail = [this](const char* step, RPC_STATUS status) {
        m_log.Write(kWhere, "listen-failed",
                    std::string("step=") + step + " error=" + std::to_string(status));
        return status;
    };
    RPC_STATUS status = ::RpcServerUseProtseqEpW(
        reinterpret_cast<RPC_WSTR>(const_cast<wchar_t*>(L"ncacn_np")),
        RPC_C_PROTSEQ_MAX_REQS_DEFAULT,
        reinterpret_cast<RPC_WSTR>(const_cast<wchar_t*>(L"\\pipe\\qnvx\\qnsrv_alarm")), nullptr);
    if (status != RPC_S_OK) {
        return fail("RpcServerUseProtseqEpW", status);
    }
    status =
        ::RpcServerRegisterIf2(&m_interface, nullptr, nullptr, 0, RPC_C_LISTEN_MAX_CALLS_DEFAULT,
                               static_cast<unsigned>(-1), nullptr);
    if (status != RPC_S_OK) {
        return fail("RpcServerRegisterIf2", status);
    }
    m_registered = true;

    // Clients resolve the endpoint through the endpoint mapper.
    RPC_BINDING_VECTOR* bindings = nullptr;
    status = ::RpcServerInqBindings(&bindings);
    if (status != RPC_S_OK) {
        return fail("RpcServerInqBindings", status);
    }
    const auto freeBindings = KRVN::scope_exit([&bindings] { ::RpcBindingVectorFree(&bindings); });
    status = ::RpcEpRegisterW(
        &m_interface, bindings, nullptr,
        reinterpret_cast<RPC_WSTR>(const_cast<wchar_t*>(L"substitute disk server")));
    if (status != RPC_S_OK) {
        return fail("RpcEpRegisterW", status);
    }
    m_mapped = true;

    status = ::RpcServerListen(1, RPC_C_LISTEN_MAX_CALLS_DEFAULT, TRUE);
    if (status != RPC_S_OK) {
        return fail("RpcServerListen", status);
    }
    m_listening = true;
    m_log.Write(kWhere, "listening");
    return RPC_S_OK;
}

long AlarmRpcService::Open(const wchar_t* password, ALARM_CONTEXT* context) {
    long result = 0;
    if (Hangs(RpcHang::Open)) {
        result = Hang("RemoteOpen");
    } else if (m_options.openResultGiven) {
        result = m_options.openResult;
    } else if (!Accepts(password ? password : L"")) {
        result = kLogonFailure;
    }
    *context = result == 0 ? new AlarmContext{m_nextContext++} : nullptr;
    m_log.Write(kWhere, "RemoteOpen",
                "ctx=" + ContextId(*context) + " password=" +
                    EventLog::Escape(KRVN::WideToCodePage(CP_UTF8, password ? password : L"")) +
                    " result=" + std::to_string(result));
    return result;
}

long AlarmRpcService::Alarm(ALARM_CONTEXT context) {
    const long result = Hangs(RpcHang::Alarm) ? Hang("RemoteAlarm") : 0;
    m_log.Write(kWhere, "RemoteAlarm",
                "ctx=" + ContextId(context) + " result=" + std::to_string(result));
    return result;
}

long AlarmRpcService::Close(ALARM_CONTEXT* context) {
    m_log.Write(kWhere, "RemoteClose", "ctx=" + ContextId(*context));
    delete static_cast<AlarmContext*>(*context);
    *context = nullptr;
    return 0;
}

void AlarmRpcService::Rundown(ALARM_CONTEXT context) {
    m_log.Write(kWhere, "rundown", "ctx=" + ContextId(context));
    delete static_cast<AlarmContext*>(context);
}

bool AlarmRpcService::Accepts(const std::wstring& password) const {
    return password == m_options.password ||
           std::find(m_options.alsoAccepted.begin(), m_options.alsoAccepted.end(), password) !=
               m_options.alsoAccepted.end();
}

bool AlarmRpcService::Hangs(RpcHang procedure) {
    return m_options.rpcHang == procedure && m_hangCandidates++ >= m_options.rpcHangAfter;
}

long AlarmRpcService::Hang(const char* procedure) {
    m_log.Write(kWhere, "hang", std::string("proc=") + procedure);
    ::WaitForSingleObject(m_release.get(), INFINITE);
    return kStopping;
}

void AlarmRpcService::LogRequest(const RPC_MESSAGE& message) {
    m_log.Write(kWhere, "request",
                "proc=" + std::to_string(message.ProcNum) +
                    " bytes=" + EventLog::Hex(message.Buffer, message.BufferLength));
}
