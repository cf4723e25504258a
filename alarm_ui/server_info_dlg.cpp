#include "alarm_ui/server_info_dlg.h"

#include <cwchar>
#include <cwctype>

#include "alarm_ui/failed_call_report.h"
#include "alarm_ui/format_text.h"
#include "alarm_ui/message_boxes.h"
#include "alarm_ui/service_objects.h"
#include "alarm_ui/tray_app.h"
#include "com/bstr.h"
#include "window/center_window.h"
#include "window/data_exchange.h"
#include "window/resource_string.h"
#include "window/wait_cursor.h"
#include "window/window_text.h"

namespace {

constexpr size_t kMaxPortLength = 5;
constexpr long kMaxPort = 65535;

std::wstring Trim(const std::wstring& text) {
    size_t first = 0;
    size_t last = text.size();
    while (first < last && std::iswspace(text[first])) {
        ++first;
    }
    while (last > first && std::iswspace(text[last - 1])) {
        --last;
    }
    return text.substr(first, last - first);
}

} // namespace

CServerInfoDlg::CServerInfoDlg(CTrayApp& app, KRVN::CListViewCtrl mainList, std::wstring portText)
    : m_app(app), m_portText(std::move(portText)), m_mainList(mainList) {}

INT_PTR CServerInfoDlg::DoModal(HWND owner) {
    return CModalDialog::DoModal(m_app.ResourceInstance(), owner);
}

LRESULT CServerInfoDlg::OnInitDialog(UINT, WPARAM, LPARAM) {
    m_connectionType = kAuthorised;
    m_savedPortText = m_portText;
    KRVN::CenterWindow(m_hWnd);
    m_portField = Item(IDC_INFO_PORT);
    ExchangeData(false);
    ::CheckRadioButton(m_hWnd, IDC_INFO_AUTHORISED, IDC_INFO_ANONYMOUS, IDC_INFO_AUTHORISED);
    ::SetWindowTextW(m_portField, L"");
    ::EnableWindow(m_portField, FALSE);
    return TRUE;
}

void CServerInfoDlg::ExchangeData(bool fromControls) {
    const auto direction = fromControls ? KRVN::Exchange::FromControls : KRVN::Exchange::ToControls;
    KRVN::ExchangeText(m_hWnd, IDC_INFO_ADDRESS, m_address, direction);
    KRVN::ExchangeText(m_hWnd, IDC_INFO_PASSWORD, m_password, direction);
    KRVN::ExchangeText(m_hWnd, IDC_INFO_CONFIRM, m_confirmation, direction);
    KRVN::ExchangeText(m_hWnd, IDC_INFO_PORT, m_portText, direction);
    KRVN::ExchangeRadio(m_hWnd, IDC_INFO_AUTHORISED, m_connectionType, direction);
}

void CServerInfoDlg::OnAuthorised(WORD, WORD, HWND) {
    // A second click on the chosen type must not lose the port typed before.
    if (::IsWindowEnabled(m_portField)) {
        m_savedPortText = KRVN::GetWindowTextString(m_portField);
    }
    ::SetWindowTextW(m_portField, L"");
    ::EnableWindow(m_portField, FALSE);
}

void CServerInfoDlg::OnAnonymous(WORD, WORD, HWND) {
    ::SetWindowTextW(m_portField, m_savedPortText.c_str());
    ::EnableWindow(m_portField, TRUE);
}

void CServerInfoDlg::OnCancel(WORD, WORD, HWND) {
    EndDialog(IDCANCEL);
}

void CServerInfoDlg::OnSave(WORD, WORD, HWND) {
    ExchangeData(true);
    ULONG port = 0;
    if (!CheckInput(port)) {
        return;
    }
    KRVN::CWaitCursor wait;
    if (Submit(port)) {
        m_portText = ::PortText(port);
        EndDialog(IDOK);
    }
}

bool CServerInfoDlg::CheckInput(ULONG& port) {
    const UINT warning = MB_ICONWARNING;
    if (m_address.empty()) {
        ShowStringBox(m_hWnd, IDS_NO_ADDRESS, IDC_INFO_ADDRESS, warning);
        return false;
    }
    if (m_password.empty()) {
        ShowStringBox(m_hWnd, IDS_NO_PASSWORD, IDC_INFO_PASSWORD, warning);
        return false;
    }
    const bool anonymous = m_connectionType == kAnonymous;
    if (anonymous && m_portText.empty()) {
        ShowStringBox(m_hWnd, IDS_NO_PORT, IDC_INFO_PORT, warning);
        return false;
    }
    if (m_password != m_confirmation) {
        ShowStringBox(m_hWnd, IDS_PASSWORD_MISMATCH, IDC_INFO_CONFIRM, warning);
        return false;
    }
    if (m_mainList.FindItem(m_address) >= 0) {
        const std::wstring format =
            KRVN::LoadResourceString(m_app.ResourceInstance(), IDS_DUPLICATE_SERVER);
        ShowTextBox(m_hWnd, FormatText(format.c_str(), m_address.c_str()), 0, warning);
        return false;
    }
    const std::wstring digits = Trim(m_portText);
    if (digits.size() > kMaxPortLength) {
        ShowStringBox(m_hWnd, IDS_PORT_RANGE, IDC_INFO_PORT, warning);
        return false;
    }
    port = 0;
    if (!anonymous) {
        return true;
    }
    // Blanks alone would otherwise turn an anonymous server into port 0,
    // which the service takes for the authorised connection.
    if (digits.empty()) {
        ShowStringBox(m_hWnd, IDS_NO_PORT, IDC_INFO_PORT, warning);
        return false;
    }
    const long value = std::wcstol(digits.c_str(), nullptr, 10);
    if (value < 1 || value > kMaxPort) {
        ShowStringBox(m_hWnd, IDS_PORT_RANGE, IDC_INFO_PORT, warning);
        return false;
    }
    port = static_cast<ULONG>(value);
    return true;
}

bool CServerInfoDlg::Submit(ULONG port) {
    KRVN::com_ptr<IQNServer> server;
    HRESULT hr = CreateServiceObject(CLSID_QNServer, server);
    if (FAILED(hr)) {
        ShowCallError(nullptr, CannotCreateObjectPrefix(L"IQNServer"), hr, MB_ICONERROR);
        return false;
    }
    const KRVN::unique_bstr address(m_address.c_str());
    const KRVN::unique_bstr password(m_password.c_str());
    const wchar_t* failedCall = nullptr;
    if ((hr = server->put_Address(address.get())) != S_OK) {
        failedCall = L"IQNServer->put_Address()";
    } else if ((hr = server->put_Password(password.get())) != S_OK) {
        failedCall = L"IQNServer->put_Password()";
    } else if ((hr = server->put_Port(port)) != S_OK) {
        failedCall = L"IQNServer->put_Port()";
    }
    if (failedCall) {
        ReportFailedCall(m_app, m_hWnd, failedCall, hr);
        return false;
    }

    const auto servers = m_app.Servers();
    // The service lists a reachable server itself.
    m_stateCode = servers->TryConnect(server.get());
    if (m_stateCode == S_OK) {
        return true;
    }
    // A refusal is no probe result: asking to save the server anyway would
    // only be refused again.
    if (ElevationCanHelp(m_app, m_stateCode)) {
        ReportFailedCall(m_app, m_hWnd, L"IQNServers->TryConnect()", m_stateCode);
        return false;
    }
    if (ShowCodeBox(m_hWnd, IDS_SAVE_UNREACHABLE, m_stateCode, MB_YESNO | MB_ICONQUESTION) !=
        IDYES) {
        return false;
    }
    hr = servers->Add(server.get());
    if (hr != S_OK) {
        ShowCallError(m_hWnd, L"IQNServers->Add()", hr, MB_ICONERROR);
        ShowCodeBox(m_hWnd, IDS_CANNOT_SAVE_SERVER, hr, MB_ICONERROR);
        return false;
    }
    return true;
}
