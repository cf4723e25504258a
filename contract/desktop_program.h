#pragma once
// What the service and the desktop program know of each other outside COM.
//
// At its stop the service asks the desktop program to close through a named
// event in the global namespace: kernel objects there are seen from every
// session, so the request reaches a program in a user's session from the
// service's session 0, where a window message could not (a service can
// neither find nor post to another session's windows).

namespace KRVN::contract {

// The desktop program's file; the service ends only the one that lies in
// its own folder.
inline constexpr wchar_t kDesktopProgramFile[] = L"Alarm.exe";

// Manual reset, made by the service unsignalled when it starts and set when
// it stops. The desktop program opens it for SYNCHRONIZE only and closes
// itself, as "Exit" does, once it is set.
inline constexpr wchar_t kDesktopCloseEventName[] = L"Global\\KRVN_Alrm_Close";

// Its security: the service's and the administrators' to set, interactive
// users' to wait on and nothing more.
inline constexpr wchar_t kDesktopCloseEventSddl[] =
    L"D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x00100000;;;IU)";

} // namespace KRVN::contract
