#include "alarm_ui/elevation_dlg.h"

#include <commctrl.h>

#include "window/center_window.h"

CElevationDlg::CElevationDlg(std::wstring text) : m_text(std::move(text)) {}

INT_PTR CElevationDlg::DoModal(HINSTANCE resources, HWND owner) {
    return CModalDialog::DoModal(resources, owner);
}

LRESULT CElevationDlg::OnInitDialog(UINT, WPARAM, LPARAM) {
    KRVN::CenterWindow(m_hWnd);
    ::SetDlgItemTextW(m_hWnd, IDC_ELEVATE_TEXT, m_text.c_str());
    ::SendMessageW(Item(IDC_ELEVATE_RESTART), BCM_SETSHIELD, 0, TRUE);
    return TRUE;
}

void CElevationDlg::OnEnd(WORD, WORD id, HWND) {
    EndDialog(id);
}
