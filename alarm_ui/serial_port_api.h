#pragma once
// The serial-port calls of the button test, gathered so that a test can put
// a port of its own behind them (a press, a failure of any one call).

#include <windows.h>

struct SerialPortApi {
    decltype(&::CreateFileW) createFile;
    decltype(&::PurgeComm) purgeComm;
    decltype(&::ClearCommBreak) clearCommBreak;
    decltype(&::SetCommMask) setCommMask;
    decltype(&::WaitCommEvent) waitCommEvent;
    decltype(&::GetOverlappedResult) getOverlappedResult;

    // The system's own calls.
    static const SerialPortApi& System();
};
