#include "alarm_ui/check_red_button_dlg.h"

#include "alarm_ui/co_sink.h"
#include "alarm_ui/error_text.h"
#include "alarm_ui/format_text.h"
#include "alarm_ui/message_boxes.h"
#include "alarm_ui/offered_ports.h"
#include "alarm_ui/resource_instance.h"
#include "window/center_window.h"
#include "window/resource_string.h"
#include "window/wait_handling_sent.h"

CheckRedButtonDlg::CheckRedButtonDlg(KRVN::com_ptr<IEstablishCommunications> events, CCoSink& sink,
                                     std::wstring servicePort, const SerialPortApi& api,
                                     bool portManaged)
    : m_events(std::move(events)), m_sink(sink), m_portUnderTest(servicePort),
      m_servicePort(std::move(servicePort)), m_api(api), m_portManaged(portManaged),
      m_checker(api) {}

CheckRedButtonDlg::~CheckRedButtonDlg() {
    m_checker.Stop(false);
    WaitForChecker();
}

INT_PTR CheckRedButtonDlg::DoModal(HINSTANCE resources, HWND owner) {
    return CModalDialog::DoModal(resources, owner);
}

void CheckRedButtonDlg::WaitForChecker() {
    KRVN::WaitHandlingSentMessages(m_checker.Handle());
}

LRESULT CheckRedButtonDlg::OnInitDialog(UINT, WPARAM, LPARAM) {
    KRVN::CenterWindow(m_hWnd);
    m_ports = KRVN::CComboBox(Item(IDC_CHECK_PORTS));
    m_responses = KRVN::CListBox(Item(IDC_CHECK_RESPONSES));
    // Listed in our order (the combo box does not sort: it would put COM12
    // before COM2); the service's port is selected only by its own entry.
    const std::vector<std::wstring> ports = OfferedPorts(m_api.machinePorts());
    for (size_t i = 0; i < ports.size(); ++i) {
        m_ports.AddString(ports[i]);
        if (SamePortName(ports[i], m_servicePort)) {
            m_ports.SetCurSel(static_cast<int>(i));
        }
    }
    ::SetDlgItemTextW(m_hWnd, IDC_CHECK_SERVICE_PORT, m_servicePort.c_str());
    ::EnableWindow(Item(IDOK), !m_portManaged);
    m_sink.Bind(m_hWnd);
    StartChecker();
    return TRUE;
}

LRESULT CheckRedButtonDlg::OnDestroy(UINT, WPARAM, LPARAM) {
    // However the dialog ends (a quit message ends it without a button),
    // no report may reach it afterwards and the worker is told to stop.
    m_sink.Unbind();
    m_checker.Stop(false);
    return 0;
}

LRESULT CheckRedButtonDlg::OnAddResponseLine(UINT, WPARAM, LPARAM line) {
    AddLine(reinterpret_cast<const wchar_t*>(line));
    return 0;
}

LRESULT CheckRedButtonDlg::OnServicePress(UINT, WPARAM, LPARAM) {
    AddLine(KRVN::LoadResourceString(ResourceInstance(), IDS_RESPONSE_FROM_SERVICE));
    return 0;
}

void CheckRedButtonDlg::OnPortSelected(WORD, WORD, HWND) {
    const int selected = m_ports.GetCurSel();
    const std::wstring port = selected >= 0 ? m_ports.GetLBText(selected) : std::wstring();
    if (port == m_portUnderTest) {
        return;
    }
    m_events->SetSendRedButtonCallback(port == m_servicePort ? 1 : 0);
    m_checker.Stop(false);
    m_portUnderTest = port;
    WaitForChecker();
    // Cleared once the old run has ended, so none of its lines stays.
    OnClear(0, IDC_CHECK_CLEAR, nullptr);
    StartChecker();
}

void CheckRedButtonDlg::OnClear(WORD, WORD, HWND) {
    m_responses.ResetContent();
    m_responses.SetHorizontalExtent(0);
}

void CheckRedButtonDlg::OnEnd(WORD, WORD id, HWND) {
    // A disabled button's command may still arrive (posted by anyone).
    if (id == IDOK && (m_portManaged || !ConfirmApply())) {
        return;
    }
    m_checker.Stop(false);
    EndDialog(id);
}

bool CheckRedButtonDlg::ConfirmApply() {
    // Applying the service's own port writes nothing, so there is nothing to confirm.
    if (m_portUnderTest == m_servicePort || !m_checker.CouldNotOpen()) {
        return true;
    }
    const std::wstring format =
        KRVN::LoadResourceString(ResourceInstance(), IDS_CONFIRM_UNOPENED_PORT);
    return ShowTextBox(m_hWnd, FormatText(format.c_str(), m_portUnderTest.c_str()), 0,
                       MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void CheckRedButtonDlg::StartChecker() {
    try {
        m_checker.StartWatch(m_hWnd, m_portUnderTest, m_servicePort);
    } catch (const CAException& e) {
        const std::wstring format =
            KRVN::LoadResourceString(ResourceInstance(), IDS_FUNCTION_FAILED);
        const auto code = static_cast<DWORD>(e.Code());
        AddLine(FormatText(format.c_str(), L"_beginthreadex", ErrorText(code).c_str(), code));
    }
}

void CheckRedButtonDlg::AddLine(const std::wstring& line) {
    m_responses.AddString(line);
    m_responses.FitHorizontalExtent();
}
