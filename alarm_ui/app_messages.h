#pragma once
// Private window messages of the program.

#include <windows.h>

// Tray icon callback on the hidden window (the mouse message in lParam).
inline constexpr UINT kTrayCallbackMessage = WM_USER;
// Asks the open settings dialog to reload its server list.
inline constexpr UINT kReloadServersMessage = WM_USER + 1;
// Hidden window: state changes from the service are waiting in the queue.
inline constexpr UINT kStateChangedMessage = WM_APP + 1;
// Test dialog: add the line in lParam (const wchar_t*) to the response list.
inline constexpr UINT kAddResponseLineMessage = WM_APP + 2;
// Test dialog: the service reported a press on its own port.
inline constexpr UINT kServicePressMessage = WM_APP + 3;
// Stop watch: the service asked the program to close.
inline constexpr UINT kCloseRequestedMessage = WM_APP + 4;
// Elevated restart: the elevated instance took over (wParam 0) or did not
// within its bound (wParam 1).
inline constexpr UINT kHandOverMessage = WM_APP + 5;
