#pragma once
// The offer to restart the program elevated (dialog 210, "Quendor Alarm"):
// the failed call's error text, why it failed, and a restart button that
// carries the elevation shield, so the user knows the system's prompt
// follows. A message box cannot carry the shield; this dialog's button
// does (BCM_SETSHIELD, common controls 6).

#include <string>

#include "alarm_ui/resource.h"
#include "window/message_map.h"
#include "window/modal_dialog.h"

class CElevationDlg : public KRVN::CModalDialog<CElevationDlg> {
public:
    enum { IDD = IDD_ELEVATE };

    explicit CElevationDlg(std::wstring text);

    // IDC_ELEVATE_RESTART when the user chose the restart, IDCANCEL otherwise.
    INT_PTR DoModal(HINSTANCE resources, HWND owner);

    KRVN_BEGIN_MSG_MAP()
    KRVN_MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    KRVN_COMMAND_ID_HANDLER(IDC_ELEVATE_RESTART, OnEnd)
    KRVN_COMMAND_ID_HANDLER(IDCANCEL, OnEnd)
    KRVN_END_MSG_MAP()

private:
    LRESULT OnInitDialog(UINT, WPARAM, LPARAM);
    void OnEnd(WORD, WORD id, HWND);

    std::wstring m_text;
};
