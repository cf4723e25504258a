#pragma once
// The service's persistent settings under HKLM\SOFTWARE\Corvane\Alarm: the
// server list, the red-button port name and the check period, with the
// one-time move of the earlier plug-in layout. No function throws: failures
// come back as HRESULTs (ReadComPort: false).

#include <windows.h>

#include <string>
#include <vector>

namespace KRVN {

// One server as the list image keeps it. Texts are stored up to their first
// zero, and loads deliver them so.
struct ServerRecord {
    std::wstring address;
    std::wstring password;
    ULONG port = 0;
};

using ServerRecordList = std::vector<ServerRecord>;

// Main key below HKEY_LOCAL_MACHINE.
inline constexpr wchar_t kAlarmKeyPath[] = L"SOFTWARE\\Corvane\\Alarm";

// The loads append to servers: all of a list's servers, or none when it
// fails.
HRESULT LoadServerList(ServerRecordList& servers);
HRESULT SaveServerList(const ServerRecordList& servers);
HRESULT LoadLegacyServerList(ServerRecordList& servers);
HRESULT LoadStoredServerList(ServerRecordList& servers);

std::wstring LoadComPort();
bool ReadComPort(std::wstring& name, const wchar_t* keySuffix = nullptr);
HRESULT SaveComPort(const std::wstring& name);

// Leaves delaySeconds untouched unless a REG_DWORD value was read.
HRESULT LoadConnectCheckDelay(LONG& delaySeconds);

// Whether only administrators may change the configuration: a non-zero
// REG_DWORD "AdminOnlyConfiguration"; anything else (or nothing) is off.
bool LoadAdminOnly();

} // namespace KRVN
