#pragma once
// Finds a running process by the base name of its main module, ignoring
// letter case ("Alarm.exe" for the service's stop, "explorer.exe" for the
// desktop user's token). Returns the first match, opened with all access,
// or an empty handle.

#include <string>

#include "common/unique_handle.h"

KRVN::unique_handle FindProcessByName(const std::wstring& name);
