// A substitute disk server for tests, demonstrations and anyone trying the
// alarm client: the TCP alarm listener on chosen loopback addresses and the
// alarm RPC interface on its named pipe, with faults chosen on the command
// line. See README.md for the options and the log format.

#include <windows.h>

#include <cstdio>
#include <optional>

#include "common/unique_handle.h"
#include "connections/winsock_session.h"
#include "substitute_server/alarm_listener.h"
#include "substitute_server/alarm_rpc_service.h"
#include "substitute_server/event_log.h"
#include "substitute_server/options.h"

int wmain(int argc, wchar_t** argv) {
    Options options;
    std::wstring error;
    if (!ParseOptions(argc, argv, options, error)) {
        std::fwprintf(stderr, L"%ls\n%ls", error.c_str(), kUsage);
        return 2;
    }
    EventLog log(options.logPath, options.echo);
    if (!log.IsOpen()) {
        std::fwprintf(stderr, L"cannot open the log %ls (%lu)\n", options.logPath.c_str(),
                      ::GetLastError());
        return 2;
    }
    log.Write("-", "started", "pid=" + std::to_string(::GetCurrentProcessId()));

    WinsockSession winsock;
    if (winsock.Status() != 0) {
        log.Write("-", "failed", "WSAStartup=" + std::to_string(winsock.Status()));
        return 1;
    }

    KRVN::unique_handle stopEvent;
    if (!options.stopEvent.empty()) {
        stopEvent.reset(::CreateEventW(nullptr, TRUE, FALSE, options.stopEvent.c_str()));
        if (!stopEvent) {
            log.Write("-", "failed", "CreateEventW=" + std::to_string(::GetLastError()));
            return 1;
        }
    }

    AlarmListener listener(options, log);
    if (!listener.Open()) {
        return 1;
    }
    std::optional<AlarmRpcService> rpc;
    if (options.rpc) {
        rpc.emplace(log, options);
        if (rpc->Start() != RPC_S_OK) {
            return 1;
        }
    }
    log.Write("-", "ready");

    const ULONGLONG deadline =
        options.lifetimeSeconds > 0 ? ::GetTickCount64() + options.lifetimeSeconds * 1000ull : 0;
    const char* reason = nullptr;
    listener.Serve([&] {
        if (stopEvent && ::WaitForSingleObject(stopEvent.get(), 0) == WAIT_OBJECT_0) {
            reason = "event";
        } else if (deadline != 0 && ::GetTickCount64() >= deadline) {
            reason = "lifetime";
        }
        return reason != nullptr;
    });

    log.Write("-", "stopping", std::string("reason=") + reason);
    rpc.reset();
    log.Write("-", "stopped");
    return 0;
}
