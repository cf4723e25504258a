#pragma once
// The system's own text for a result code (Win32, Winsock, RPC), for the
// event log's inserts.

#include <windows.h>

#include <string>

// One line without the trailing period and line break; "unknown error" when
// the system has no text for code.
std::wstring SystemErrorText(DWORD code);
