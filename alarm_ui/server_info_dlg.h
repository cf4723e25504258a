#pragma once
// The server-properties dialog: one new disk server (address, password typed
// twice, kind of connection). On "&Сохранить" it checks the input, makes a
// server object in the service and has the service probe and list it; an
// unreachable server is listed only when the user confirms.
//
// The kind of connection is the port: 0 for the authorised connection (RPC
// over named pipes), 1..65535 for the anonymous one (TCP to that port).

#include <string>

#include "alarm_ui/resource.h"
#include "window/list_view.h"
#include "window/message_map.h"
#include "window/modal_dialog.h"

class CTrayApp;

class CServerInfoDlg : public KRVN::CModalDialog<CServerInfoDlg> {
public:
    enum { IDD = IDD_SERVER_INFO };
    enum ConnectionType { kAuthorised = 0, kAnonymous = 1 };

    // mainList: the settings dialog's list, for the duplicate check;
    // portText: what the port field shows when the anonymous type is chosen.
    CServerInfoDlg(CTrayApp& app, KRVN::CListViewCtrl mainList, std::wstring portText);

    // Ends with 1 once the service has accepted the server, 2 on "&Отмена".
    INT_PTR DoModal(HWND owner);

    // After an end with 1: what the new row shows.
    const std::wstring& Address() const noexcept { return m_address; }
    // The result of the service's connection attempt.
    LONG StateCode() const noexcept { return m_stateCode; }
    // The port as sent, in decimal; empty for port 0.
    const std::wstring& PortText() const noexcept { return m_portText; }

    KRVN_BEGIN_MSG_MAP()
    KRVN_MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    KRVN_COMMAND_ID_HANDLER(IDOK, OnSave)
    KRVN_COMMAND_ID_HANDLER(IDCANCEL, OnCancel)
    KRVN_COMMAND_HANDLER(IDC_INFO_AUTHORISED, BN_CLICKED, OnAuthorised)
    KRVN_COMMAND_HANDLER(IDC_INFO_ANONYMOUS, BN_CLICKED, OnAnonymous)
    KRVN_END_MSG_MAP()

private:
    LRESULT OnInitDialog(UINT, WPARAM, LPARAM);
    void OnSave(WORD, WORD, HWND);
    void OnCancel(WORD, WORD, HWND);
    void OnAuthorised(WORD, WORD, HWND);
    void OnAnonymous(WORD, WORD, HWND);

    void ExchangeData(bool fromControls);
    // The checks of the input in their order; false after telling the user.
    bool CheckInput(ULONG& port);
    // Creates, fills, tries and, when confirmed, adds the server; true when
    // the service has listed it.
    bool Submit(ULONG port);

    CTrayApp& m_app;
    std::wstring m_address;
    std::wstring m_password;
    std::wstring m_confirmation;
    std::wstring m_portText;
    KRVN::CListViewCtrl m_mainList;
    LONG m_stateCode = -1;
    int m_connectionType = kAuthorised;
    std::wstring m_savedPortText;
    HWND m_portField = nullptr;
};
