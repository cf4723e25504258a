#pragma once
// The serial-port calls of the button test, gathered so that a test can put
// a port of its own behind them (a press, a failure of any one call, the
// ports the machine lists).

#include <windows.h>

#include <string>
#include <vector>

struct SerialPortApi {
    decltype(&::CreateFileW) createFile;
    decltype(&::PurgeComm) purgeComm;
    decltype(&::ClearCommBreak) clearCommBreak;
    decltype(&::GetCommState) getCommState;
    decltype(&::SetCommState) setCommState;
    decltype(&::SetCommMask) setCommMask;
    decltype(&::WaitCommEvent) waitCommEvent;
    decltype(&::GetOverlappedResult) getOverlappedResult;
    // The serial ports the machine's drivers have published, as named to users.
    std::vector<std::wstring> (*machinePorts)();

    // The system's own calls.
    static const SerialPortApi& System();
};
