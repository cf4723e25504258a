#pragma once
// The settings an installation hands the service: the package's public
// properties COMPORT, ADMINONLY and CHECKDELAY, which the package passes on to
// "Tolvane.exe -InstallSettings" as NAME=value tokens. Windows Installer has
// no empty property, so an empty value is a property that was not given: the
// machine keeps what it has. A value that is given must pass the rule the
// service holds the setting to, or nothing is taken.

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The package's public properties.
inline constexpr wchar_t kComPortProperty[] = L"COMPORT";
inline constexpr wchar_t kAdminOnlyProperty[] = L"ADMINONLY";
inline constexpr wchar_t kCheckDelayProperty[] = L"CHECKDELAY";

struct InstallSettings {
    std::optional<std::wstring> comPort;
    std::optional<DWORD> adminOnly;
    std::optional<DWORD> checkDelay;

    bool Empty() const { return !comPort && !adminOnly && !checkDelay; }
};

// Whether a port name may be watched (service/serial_port_name.h by default).
using PortNameRule = std::function<bool(std::wstring_view)>;

// One token of a switch's data, split at its first '='.
struct SettingToken {
    std::wstring name;
    std::wstring value;
};

// The tokens as NAME=value pairs, each name once and one of known; on false,
// refusal names the token and why.
bool SplitSettingTokens(const std::vector<std::wstring>& tokens,
                        const std::vector<std::wstring_view>& known,
                        std::vector<SettingToken>& split, std::wstring& refusal);

// The settings tokens give: COMPORT a serial port of this machine, ADMINONLY
// 0 or 1, CHECKDELAY 1 to 86,400 seconds in decimal digits. On false,
// refusal says which token is refused and why, and settings is untouched.
bool ParseInstallSettings(const std::vector<std::wstring>& tokens, const PortNameRule& isPortName,
                          InstallSettings& settings, std::wstring& refusal);
