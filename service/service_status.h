#pragma once
// The status the service reports to the service manager, kept as the
// manager expects it: no controls while the start is pending (a stop then
// could reach a half-made service), a check point that grows through a
// pending state and is 0 otherwise, a wait hint for every pending state,
// and the run's result as the documented pair of exit codes. The last
// report (stopped) comes after the last event: once it is made the process
// may be ended at any moment.

#include <windows.h>

#include <mutex>

#include "service/event_reporter.h"

class ServiceStatus {
public:
    using SetStatusCall = BOOL(WINAPI*)(SERVICE_STATUS_HANDLE, LPSERVICE_STATUS);

    // What a report of SERVICE_STOPPED carries for a run's result: 0 for
    // success, the Win32 code of an HRESULT made from one, otherwise
    // ERROR_SERVICE_SPECIFIC_ERROR with the HRESULT as the service's own code.
    static void ExitCodes(HRESULT result, DWORD& win32ExitCode, DWORD& serviceSpecificExitCode);

    explicit ServiceStatus(SetStatusCall call = &::SetServiceStatus) : m_call(call) {}

    // The handle RegisterServiceCtrlHandlerW gave; nothing is reported before.
    void Attach(SERVICE_STATUS_HANDLE handle) noexcept { m_handle = handle; }

    // A pending state (start or stop), with the time the next report may take.
    void ReportPending(DWORD state, DWORD waitHintMs);
    // Running: the stop control is accepted from now on.
    void ReportRunning();
    // Writes the last event, then reports stopped with the run's result; no
    // report may follow.
    void ReportStopped(HRESULT result, EventReporter& log, const Event& lastEvent);

private:
    void Report(DWORD state, DWORD waitHintMs);

    SetStatusCall m_call;
    SERVICE_STATUS_HANDLE m_handle = nullptr;
    // The handler thread and the service thread both report.
    std::mutex m_lock;
    SERVICE_STATUS m_status{SERVICE_WIN32_OWN_PROCESS, SERVICE_STOPPED, 0, NO_ERROR, 0, 0, 0};
};
