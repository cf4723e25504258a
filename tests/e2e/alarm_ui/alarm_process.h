#pragma once
// The shipped Alarm.exe as a separate process of the test: started with
// CreateProcess, waited for by its handle, and ended by that handle when a
// test leaves it running.

#include <windows.h>

#include "common/unique_handle.h"

namespace krvn_e2e {

class AlarmProcess {
public:
    AlarmProcess() = default;
    ~AlarmProcess();
    AlarmProcess(const AlarmProcess&) = delete;
    AlarmProcess& operator=(const AlarmProcess&) = delete;

    bool Start();
    DWORD ProcessId() const noexcept { return m_processId; }
    // The exit code once the process ended within the time; nothing otherwise.
    bool WaitForExit(DWORD timeoutMs, DWORD* exitCode);
    bool Running() const;
    // Ends a process that still runs, by its handle.
    void End();

    // The visible dialog-class window of this process with the caption that
    // has (marker > 0) or has not (marker < 0) the control |marker|.
    HWND WaitForDialog(const wchar_t* caption, int marker, DWORD timeoutMs) const;
    // The tray icon's hidden window.
    HWND WaitForHiddenWindow(DWORD timeoutMs) const;

private:
    KRVN::unique_handle m_process;
    DWORD m_processId = 0;
};

} // namespace krvn_e2e
