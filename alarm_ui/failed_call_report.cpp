#include "alarm_ui/failed_call_report.h"

#include "alarm_ui/elevated_restart.h"
#include "alarm_ui/elevation_dlg.h"
#include "alarm_ui/message_boxes.h"
#include "alarm_ui/tray_app.h"
#include "window/resource_string.h"

bool ElevationCanHelp(const CTrayApp& app, HRESULT code) {
    const ElevatedRestart* restart = app.Elevation();
    return code == E_ACCESSDENIED && restart && restart->CanHelp();
}

void ReportFailedCall(CTrayApp& app, HWND owner, const std::wstring& prefix, HRESULT code) {
    if (!ElevationCanHelp(app, code)) {
        ShowCallError(owner, prefix, code, MB_ICONERROR);
        return;
    }
    const std::wstring why = KRVN::LoadResourceString(app.ResourceInstance(), IDS_ELEVATION_OFFER);
    CElevationDlg offer(CallErrorText(prefix, code) + L"\n\n" + why);
    if (offer.DoModal(app.ResourceInstance(), owner) != IDC_ELEVATE_RESTART) {
        return;
    }
    const HRESULT restarted = app.Elevation()->Restart(owner);
    if (FAILED(restarted) && restarted != HRESULT_FROM_WIN32(ERROR_CANCELLED)) {
        ShowCallError(owner, L"ShellExecuteExW()", restarted, MB_ICONERROR);
    }
}
