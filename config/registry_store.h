#pragma once
// The service's persistent settings under HKLM\SOFTWARE\Corvane\Alarm: the
// server list, the red-button port name and the check period, with the
// one-time move of the earlier plug-in layout. No function throws: failures
// come back as HRESULTs (ReadComPort: false).

#include <windows.h>

#include <string>
#include <vector>

#include "com/com_ptr.h"
#include "contract/TolvaneLib.h"

namespace KRVN {

// Server objects delivered by the loads: new in-process QNServer objects,
// one reference each, owned by the caller.
using ServerObjectList = std::vector<com_ptr<IDispatch>>;

// Main key below HKEY_LOCAL_MACHINE.
inline constexpr wchar_t kAlarmKeyPath[] = L"SOFTWARE\\Corvane\\Alarm";

HRESULT LoadServerList(ServerObjectList& servers);
// Elements answer IQNServer; the list takes no references of its own.
HRESULT SaveServerList(const std::vector<IUnknown*>& servers);
HRESULT LoadLegacyServerList(ServerObjectList& servers);
HRESULT LoadStoredServerList(ServerObjectList& servers);

std::wstring LoadComPort();
bool ReadComPort(std::wstring& name, const wchar_t* keySuffix = nullptr);
HRESULT SaveComPort(const std::wstring& name);

// Leaves delaySeconds untouched unless a REG_DWORD value was read.
HRESULT LoadConnectCheckDelay(LONG& delaySeconds);

// Whether only administrators may change the configuration: a non-zero
// REG_DWORD "AdminOnlyConfiguration"; anything else (or nothing) is off.
bool LoadAdminOnly();

} // namespace KRVN
