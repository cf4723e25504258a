#pragma once
// A serial port behind the button test's calls: every open succeeds unless
// told otherwise, a pending WaitCommEvent completes with EV_DSR on Press(),
// and any one call can be made to fail with a chosen error.

#include <windows.h>

#include <string>
#include <vector>

#include "alarm_ui/serial_port_api.h"

namespace fake_port {

const SerialPortApi& Api();

// The next opens fail in `call` ("CreateFile", "PurgeComm", "ClearCommBreak",
// "SetCommMask" or "WaitCommEvent") with `error`; an empty call clears it.
void FailIn(const std::wstring& call, DWORD error);
// The ports opened so far, in order.
std::vector<std::wstring> Opened();
// Waits until a WaitCommEvent is pending; false after the time-out.
bool WaitUntilWatching();
// Completes the pending wait with a DSR change.
void Press();
void Reset();

} // namespace fake_port
