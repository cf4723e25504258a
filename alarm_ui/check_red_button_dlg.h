#pragma once
// The red-button test dialog: the user picks a serial port and presses the
// button; each press shows up in the response list, as seen by our own
// worker on the chosen port or as reported by the service for its own port.

#include <string>

#include "alarm_ui/app_messages.h"
#include "alarm_ui/red_button_checker.h"
#include "alarm_ui/resource.h"
#include "com/com_ptr.h"
#include "contract/TolvaneLib.h"
#include "window/combo_box.h"
#include "window/list_box.h"
#include "window/message_map.h"
#include "window/modal_dialog.h"

class CCoSink;

class CheckRedButtonDlg : public KRVN::CModalDialog<CheckRedButtonDlg> {
public:
    enum { IDD = IDD_CHECK_BUTTON };

    // events: the subscription that is told which port the user watches;
    // sink: bound to the dialog while its window exists; portManaged: a
    // policy sets the port, so "&Применить" is disabled.
    CheckRedButtonDlg(KRVN::com_ptr<IEstablishCommunications> events, CCoSink& sink,
                      std::wstring servicePort, const SerialPortApi& api, bool portManaged);
    // Waits for the worker to end (answering the lines it still sends).
    ~CheckRedButtonDlg();

    // Ends with 1 ("&Применить", never while the port is managed) or 2
    // ("&Отменить", Esc).
    INT_PTR DoModal(HINSTANCE resources, HWND owner);

    const std::wstring& PortUnderTest() const noexcept { return m_portUnderTest; }
    // Returns once the worker's thread has ended.
    void WaitForChecker();

    KRVN_BEGIN_MSG_MAP()
    KRVN_MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    KRVN_MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
    KRVN_MESSAGE_HANDLER(kAddResponseLineMessage, OnAddResponseLine)
    KRVN_MESSAGE_HANDLER(kServicePressMessage, OnServicePress)
    KRVN_COMMAND_HANDLER(IDC_CHECK_PORTS, CBN_SELCHANGE, OnPortSelected)
    KRVN_COMMAND_ID_HANDLER(IDC_CHECK_CLEAR, OnClear)
    KRVN_COMMAND_ID_HANDLER(IDOK, OnEnd)
    KRVN_COMMAND_ID_HANDLER(IDCANCEL, OnEnd)
    KRVN_END_MSG_MAP()

private:
    LRESULT OnInitDialog(UINT, WPARAM, LPARAM);
    LRESULT OnDestroy(UINT, WPARAM, LPARAM);
    LRESULT OnAddResponseLine(UINT, WPARAM, LPARAM line);
    LRESULT OnServicePress(UINT, WPARAM, LPARAM);
    void OnPortSelected(WORD, WORD, HWND);
    void OnClear(WORD, WORD, HWND);
    void OnEnd(WORD, WORD id, HWND);

    void StartChecker();
    // False when the port under test could not be opened in its last run
    // and the user declines to apply it all the same.
    bool ConfirmApply();
    void AddLine(const std::wstring& line);

    KRVN::com_ptr<IEstablishCommunications> m_events;
    CCoSink& m_sink;
    std::wstring m_portUnderTest;
    const std::wstring m_servicePort;
    const SerialPortApi& m_api;
    const bool m_portManaged;
    RedButtonChecker m_checker;
    KRVN::CComboBox m_ports;
    KRVN::CListBox m_responses;
};
