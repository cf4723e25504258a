#pragma once
// The settings key holds every disk server's password in clear: only the
// service's account (SYSTEM) and Administrators may open it, or any key below
// it. The tray program and scripts reach the settings through the service,
// never here.

#include <windows.h>
#include <aclapi.h>

#include "common/unique_handle.h"

namespace KRVN {

// Full control for SYSTEM and Administrators, inherited by subkeys, and
// nothing inherited from the parent.
inline constexpr wchar_t kAlarmKeySddl[] = L"D:P(A;OICI;KA;;;SY)(A;OICI;KA;;;BA)";

// A self-relative descriptor made from kAlarmKeySddl, freed with LocalFree.
using unique_security_descriptor = unique_hlocal;
unique_security_descriptor AlarmKeySecurity();

// The shape of SetNamedSecurityInfoW, so a test can see what each subkey is
// handed.
using SetNamedSecurityCall = DWORD(WINAPI*)(LPWSTR, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID,
                                            PSID, PACL, PACL);

// Gives HKLM\SOFTWARE\Corvane\Alarm (created when missing) that DACL, and
// every subkey below it, parents first, nothing but what it inherits from it:
// its own ACEs go and its protection ends. The stored values are left as they
// are. The outcome stays for AlarmKeyProtection.
HRESULT ProtectAlarmKey(SetNamedSecurityCall setSubkeyDacl = &::SetNamedSecurityInfoW);

// The outcome of the last ProtectAlarmKey in this process: S_OK when it
// succeeded or none has run, else its failure.
HRESULT AlarmKeyProtection() noexcept;

} // namespace KRVN
