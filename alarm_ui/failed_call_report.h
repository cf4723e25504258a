#pragma once
// Reporting a failed change to the service. The ordinary call-error box
// (ShowCallError, error icon) for everyone, except where the service
// refused (E_ACCESSDENIED: its settings are for administrators only) a user
// who is an administrator with a filtered token: that user is offered the
// elevated restart instead (CElevationDlg, ElevatedRestart).

#include <windows.h>

#include <string>

class CTrayApp;

// An elevated restart would get past this failure.
bool ElevationCanHelp(const CTrayApp& app, HRESULT code);

// Shows the box, or the offer and, when taken, restarts elevated; a failed
// start (other than a declined prompt) is shown as well.
void ReportFailedCall(CTrayApp& app, HWND owner, const std::wstring& prefix, HRESULT code);
