#pragma once
// A serial port behind the button test's calls: every open succeeds unless
// told otherwise, a pending WaitCommEvent completes with EV_DSR on Press()
// (the mask is handed over, as documented, only by GetOverlappedResult),
// any one call can be made to fail with a chosen error, and the machine
// lists the ports a test gives it.

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "alarm_ui/serial_port_api.h"

namespace fake_port {

// What the program handed CreateFileW.
struct Open {
    std::wstring name;
    DWORD access;
    DWORD share;
    bool securityAttributes;
    DWORD creation;
    DWORD flags;
    bool templateFile;
};

// The control block the driver reports: DTR off, as its last user left it.
DCB DriverControlBlock();

const SerialPortApi& Api();

// The next opens fail in `call` ("CreateFile", "PurgeComm", "ClearCommBreak",
// "GetCommState", "SetCommState", "SetCommMask" or "WaitCommEvent") with
// `error`; an empty call clears it.
void FailIn(const std::wstring& call, DWORD error);
// The names of the ports opened so far, in order, and the whole calls.
std::vector<std::wstring> Opened();
std::vector<Open> Opens();
// The control block last handed to SetCommState.
std::optional<DCB> WrittenControlBlock();
// The port names the machine lists from now on.
void SetMachinePorts(std::vector<std::wstring> ports);
// Waits until a WaitCommEvent is pending; false after the time-out.
bool WaitUntilWatching();
// Completes the pending wait with a DSR change.
void Press();
// Completes the pending wait with a failure (the port went away).
void FailPendingWait(DWORD error);
void Reset();

} // namespace fake_port
