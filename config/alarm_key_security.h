#pragma once
// The settings key holds every disk server's password in clear: only the
// service's account (SYSTEM) and Administrators may open it. The tray
// program and scripts reach the settings through the service, never here.

#include <windows.h>

#include "common/unique_handle.h"

namespace KRVN {

// Full control for SYSTEM and Administrators, inherited by subkeys, and
// nothing inherited from the parent.
inline constexpr wchar_t kAlarmKeySddl[] = L"D:P(A;OICI;KA;;;SY)(A;OICI;KA;;;BA)";

// A self-relative descriptor made from kAlarmKeySddl, freed with LocalFree.
using unique_security_descriptor = unique_hlocal;
unique_security_descriptor AlarmKeySecurity();

// Gives HKLM\SOFTWARE\Corvane\Alarm (created when missing) that DACL. The
// stored values are left as they are.
HRESULT ProtectAlarmKey();

} // namespace KRVN
