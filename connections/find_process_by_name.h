#pragma once
// Finds a running process by the base name of its main module, ignoring
// letter case ("Alarm.exe" for the service's stop, "explorer.exe" for the
// desktop user's token). Returns the first match, opened with all access,
// or an empty handle.

#include <windows.h>

#include <string>

#include "common/unique_handle.h"

KRVN::unique_handle FindProcessByName(const std::wstring& name);
// The same among the processes of one logon session only.
KRVN::unique_handle FindProcessByName(const std::wstring& name, DWORD sessionId);
