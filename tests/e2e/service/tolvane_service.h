#pragma once
// The Tolvane program under test as the prefix sees it: its switches, the
// service manager's view of the service, and the service's settings under
// HKLM\SOFTWARE\Corvane\Alarm.

#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/unique_handle.h"
#include "tests/e2e/service/program_run.h"

namespace krvn_e2e {

inline constexpr wchar_t kServiceName[] = L"Tolvane";
inline constexpr wchar_t kAppIdKey[] = L"AppID\\{D731F976-9C5E-4E8A-B8D7-9B030B4C90A7}";

// Tolvane.exe with these switches, to its end.
ProgramResult RunTolvane(const std::wstring& switches);
// Runs the switches and expects exit code 0.
::testing::AssertionResult Tolvane(const std::wstring& switches);

// The service's current state (SERVICE_RUNNING, ...); 0 when not installed.
DWORD ServiceState();
bool WaitForServiceState(DWORD state, DWORD timeoutMs);
// Asks a running service to stop and waits until it has; nothing to do when
// it is not installed or not running.
::testing::AssertionResult StopService(DWORD timeoutMs = 30000);

// Whether HKCR\AppID\{AppID} has a LocalService value.
bool HasLocalService();

// The service's settings.
void ClearSettings();
void SetConnectCheckDelay(DWORD seconds);
void SetComPortSetting(const std::wstring& name);
bool WriteAdminOnly(DWORD on);

// The organisation's policy values under HKLM\SOFTWARE\Policies\Corvane\Alarm.
void ClearPolicy();
bool WritePolicyDword(const wchar_t* name, DWORD value);
// REG_SZ with its terminator.
bool WritePolicyText(const wchar_t* name, const std::wstring& text);
bool DeletePolicyValue(const wchar_t* name);
// The stored port name; empty when none is stored.
std::wstring StoredComPort();

// The stored server list ("ServerConfig") as it is, whatever its type.
struct StoredValue {
    DWORD type = REG_NONE; // REG_NONE: no such value
    std::vector<BYTE> bytes;
};
StoredValue ReadServerListSetting();
bool WriteServerListSetting(DWORD type, const void* data, DWORD size);

// The first process with this module name; empty when none runs.
KRVN::unique_handle FindProcess(const wchar_t* name);

} // namespace krvn_e2e
