#pragma once
// The names of the service's settings, as the settings key holds them and as
// an organisation's policy sets them: a policy value under the policy key has
// the same name as the setting it overrides. The settings key's own layout
// (the server list, the earlier layout) is the registry store's.

namespace KRVN {

// Under HKEY_LOCAL_MACHINE: the service's own settings, and the values Group
// Policy writes for them (readable by every user, writable by administrators).
inline constexpr wchar_t kSettingsKeyPath[] = L"SOFTWARE\\Corvane\\Alarm";
inline constexpr wchar_t kPolicyKeyPath[] = L"SOFTWARE\\Policies\\Corvane\\Alarm";

// REG_SZ: the red button's port.
inline constexpr wchar_t kComPortValue[] = L"COM";
// REG_DWORD: seconds between two connection checks, 1 to 86,400.
inline constexpr wchar_t kCheckDelayValue[] = L"ConnectCheckDelay";
// REG_DWORD: 1 keeps configuration to administrators.
inline constexpr wchar_t kAdminOnlyValue[] = L"AdminOnlyConfiguration";

} // namespace KRVN
