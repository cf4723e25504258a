#pragma once
// The alarm RPC interface of the substitute server on its named pipe. Every
// request's NDR body is logged as it arrived ("request" lines) before the
// stub unmarshals it, so tests can check the bytes a client puts on the wire.

#include <windows.h>
#include <rpc.h>

#include <atomic>
#include <string>

#include "common/unique_handle.h"
#include "connections/alarm_rpc_server.h"
#include "substitute_server/event_log.h"
#include "substitute_server/options.h"

class AlarmRpcService {
public:
    AlarmRpcService(EventLog& log, const Options& options);
    ~AlarmRpcService();
    AlarmRpcService(const AlarmRpcService&) = delete;
    AlarmRpcService& operator=(const AlarmRpcService&) = delete;

    // Serves the interface on "\pipe\qnvx\qnsrv_alarm" and registers it with
    // the endpoint mapper; returns 0 or the failing RPC status (logged).
    RPC_STATUS Start();

    // The procedures, called by the server stub through the routines below.
    long Open(const wchar_t* password, ALARM_CONTEXT* context);
    long Alarm(ALARM_CONTEXT context);
    long Close(ALARM_CONTEXT* context);
    void Rundown(ALARM_CONTEXT context);
    void LogRequest(const RPC_MESSAGE& message);

private:
    // The password given to --password or to --also-accept.
    bool Accepts(const std::wstring& password) const;
    // Whether this call of the procedure is one that is never answered.
    bool Hangs(RpcHang procedure);
    // Holds the calling runtime thread until the service is destroyed, then
    // gives the result a stopping server answers with.
    long Hang(const char* procedure);

    EventLog& m_log;
    const Options& m_options;
    RPC_SERVER_INTERFACE m_interface;
    RPC_DISPATCH_FUNCTION m_dispatch[3];
    RPC_DISPATCH_TABLE m_dispatchTable;
    bool m_registered = false;
    bool m_mapped = false;
    bool m_listening = false;
    std::atomic<int> m_nextContext{1};
    std::atomic<int> m_hangCandidates{0};
    // Set when the service goes: hung calls must end before the runtime
    // stops listening, which waits for every call in progress.
    KRVN::unique_event m_release = KRVN::unique_event::create(true, false);
};
