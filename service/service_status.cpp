#include "service/service_status.h"

void ServiceStatus::ExitCodes(HRESULT result, DWORD& win32ExitCode,
                              DWORD& serviceSpecificExitCode) {
    serviceSpecificExitCode = 0;
    if (SUCCEEDED(result)) {
        win32ExitCode = NO_ERROR;
    } else if (HRESULT_FACILITY(result) == FACILITY_WIN32) {
        win32ExitCode = HRESULT_CODE(result);
    } else {
        win32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
        serviceSpecificExitCode = static_cast<DWORD>(result);
    }
}

void ServiceStatus::ReportPending(DWORD state, DWORD waitHintMs) {
    Report(state, waitHintMs);
}

void ServiceStatus::ReportRunning() {
    Report(SERVICE_RUNNING, 0);
}

void ServiceStatus::ReportStopped(HRESULT result, EventReporter& log, const Event& lastEvent) {
    log.Report(lastEvent);
    std::lock_guard<std::mutex> hold(m_lock);
    ExitCodes(result, m_status.dwWin32ExitCode, m_status.dwServiceSpecificExitCode);
    m_status.dwCurrentState = SERVICE_STOPPED;
    m_status.dwControlsAccepted = 0;
    m_status.dwCheckPoint = 0;
    m_status.dwWaitHint = 0;
    m_call(m_handle, &m_status);
}

void ServiceStatus::Report(DWORD state, DWORD waitHintMs) {
    std::lock_guard<std::mutex> hold(m_lock);
    const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
    m_status.dwCheckPoint = pending && state == m_status.dwCurrentState ? m_status.dwCheckPoint + 1
                            : pending                                   ? 1
                                                                        : 0;
    m_status.dwCurrentState = state;
    m_status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    m_status.dwWaitHint = pending ? waitHintMs : 0;
    m_call(m_handle, &m_status);
}
