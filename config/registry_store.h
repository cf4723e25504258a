#pragma once
// The service's persistent settings under HKLM\SOFTWARE\Corvane\Alarm: the
// server list, the red-button port name and the check period, with the
// one-time move of the earlier plug-in layout. No function throws: failures
// come back as HRESULTs (ReadComPort: false).
//
// A subkey of the earlier layout goes once its values have moved and it
// holds nothing else.

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "config/secret_text.h"
#include "config/setting_names.h"

namespace KRVN {

// One server as the list image keeps it. Texts are stored up to their first
// zero, and loads deliver them so. The password is wiped wherever a record
// ends.
struct ServerRecord {
    std::wstring address;
    SecretWString password;
    ULONG port = 0;
};

using ServerRecordList = std::vector<ServerRecord>;

// Main key below HKEY_LOCAL_MACHINE.
inline constexpr const wchar_t* kAlarmKeyPath = kSettingsKeyPath;

// The loads append to servers: all of a list's servers, or none when it
// fails.
HRESULT LoadServerList(ServerRecordList& servers);
// Writes nothing while the settings key's last protection failed
// (AlarmKeyProtection): the passwords would land in a key others may read.
HRESULT SaveServerList(const ServerRecordList& servers);
HRESULT LoadLegacyServerList(ServerRecordList& servers);
HRESULT LoadStoredServerList(ServerRecordList& servers);

// Whether a port name read from keyPath (below HKEY_LOCAL_MACHINE) may be
// watched; the check may report the names it refuses.
using PortNameCheck = std::function<bool(const std::wstring& name, const std::wstring& keyPath)>;

// The stored port name that passes usable: the earlier layout's (then moved
// to the main key), else the main key's; empty when none passes. A refused
// name stays where it is.
std::wstring LoadComPort(const PortNameCheck& usable);
bool ReadComPort(std::wstring& name, const wchar_t* keySuffix = nullptr);
HRESULT SaveComPort(const std::wstring& name);

// Leaves delaySeconds untouched unless a REG_DWORD value was read.
HRESULT LoadConnectCheckDelay(LONG& delaySeconds);

// Whether only administrators may change the configuration: a non-zero
// REG_DWORD "AdminOnlyConfiguration"; anything else (or nothing) is off.
bool LoadAdminOnly();

} // namespace KRVN
