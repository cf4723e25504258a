#pragma once
// The settings dialog: the servers the service alarms, with port and last
// connection state, Add and Delete, and the red-button port with the way to
// the button test. Every change goes to the service at once; the rows are
// the only copy of the server data on this side.

#include <string>

#include "alarm_ui/app_messages.h"
#include "alarm_ui/resource.h"
#include "window/gdi_owners.h"
#include "window/list_view.h"
#include "window/message_map.h"
#include "window/modal_dialog.h"

class CTrayApp;

class CMainDlg : public KRVN::CModalDialog<CMainDlg> {
public:
    enum { IDD = IDD_MAIN };

    explicit CMainDlg(CTrayApp& app);

    // Ends with 1 ("&Закрыть") or 2 (Esc, close box).
    INT_PTR DoModal(HWND owner);

    KRVN_BEGIN_MSG_MAP()
    KRVN_MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    KRVN_MESSAGE_HANDLER(kReloadServersMessage, OnReloadServers)
    KRVN_COMMAND_ID_HANDLER(IDOK, OnClose)
    KRVN_COMMAND_ID_HANDLER(IDCANCEL, OnClose)
    KRVN_COMMAND_ID_HANDLER(IDC_MAIN_ADD, OnAdd)
    KRVN_COMMAND_ID_HANDLER(IDC_MAIN_DELETE, OnDelete)
    KRVN_COMMAND_ID_HANDLER(IDC_MAIN_CHANGE_PORT, OnChangePort)
    KRVN_NOTIFY_HANDLER(IDC_MAIN_SERVER_LIST, LVN_KEYDOWN, OnListKeyDown)
    KRVN_END_MSG_MAP()

private:
    enum Column { kAddressColumn, kPortColumn, kStateColumn };
    enum Image { kReachableImage, kUnreachableImage };

    LRESULT OnInitDialog(UINT, WPARAM, LPARAM);
    LRESULT OnReloadServers(UINT, WPARAM, LPARAM);
    void OnClose(WORD, WORD id, HWND);
    void OnAdd(WORD, WORD, HWND);
    void OnDelete(WORD, WORD, HWND);
    void OnChangePort(WORD, WORD, HWND);
    LRESULT OnListKeyDown(NMHDR* header);

    void CreateColumns();
    void ReloadServers();
    // Returns the row's index, or -1.
    int InsertRow(const std::wstring& address, LONG stateCode, const std::wstring& portText);

    CTrayApp& m_app;
    KRVN::CListViewCtrl m_list;
    KRVN::unique_hicon m_bigIcon;
    KRVN::unique_hicon m_smallIcon;
};
