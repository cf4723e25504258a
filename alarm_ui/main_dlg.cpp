#include "alarm_ui/main_dlg.h"

#include "alarm_ui/app_strings.h"
#include "alarm_ui/error_text.h"
#include "alarm_ui/failed_call_report.h"
#include "alarm_ui/format_text.h"
#include "alarm_ui/icon_metrics.h"
#include "alarm_ui/message_boxes.h"
#include "alarm_ui/port_change.h"
#include "alarm_ui/server_info_dlg.h"
#include "alarm_ui/service_objects.h"
#include "alarm_ui/tray_app.h"
#include "com/bstr.h"
#include "com/variant.h"
#include "window/center_window.h"
#include "window/resource_string.h"
#include "window/wait_cursor.h"

namespace {

constexpr wchar_t kNewServerPort[] = L"64111";

std::wstring StateText(LONG stateCode) {
    if (stateCode == 0) {
        return L"OK";
    }
    return stateCode == -1 ? std::wstring() : ErrorText(static_cast<DWORD>(stateCode));
}

// The server object an entry of the collection holds.
HRESULT ServerOf(const KRVN::unique_variant& item, KRVN::com_ptr<IQNServer>& server) {
    const VARIANT& value = item.get();
    IUnknown* object = nullptr;
    if (V_VT(&value) == VT_DISPATCH) {
        object = V_DISPATCH(&value);
    } else if (V_VT(&value) == VT_UNKNOWN) {
        object = V_UNKNOWN(&value);
    }
    if (!object) {
        return E_NOINTERFACE;
    }
    return object->QueryInterface(IID_IQNServer, server.put_void());
}

} // namespace

CMainDlg::CMainDlg(CTrayApp& app) : m_app(app) {}

INT_PTR CMainDlg::DoModal(HWND owner) {
    return CModalDialog::DoModal(m_app.ResourceInstance(), owner);
}

LRESULT CMainDlg::OnInitDialog(UINT, WPARAM, LPARAM) {
    KRVN::CWaitCursor wait;
    const HINSTANCE resources = m_app.ResourceInstance();
    m_bigIcon = KRVN::LoadIconResource(resources, IDI_APP, LargeIconSize(m_hWnd));
    m_smallIcon = KRVN::LoadIconResource(resources, IDI_APP, SmallIconSize(m_hWnd));
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_bigIcon.get()));
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_smallIcon.get()));
    KRVN::CenterWindow(m_hWnd);
    ::SetWindowTextW(m_hWnd, kAppTitle);

    m_list = KRVN::CListViewCtrl(Item(IDC_MAIN_SERVER_LIST));
    CreateColumns();
    m_list.AddExtendedStyle(LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP);

    KRVN::unique_bstr port;
    if (m_app.Alarm()->get_ComPort(port.put()) == S_OK) {
        ::SetDlgItemTextW(m_hWnd, IDC_MAIN_COM_PORT, BstrText(port).c_str());
    }
    // Read at every opening: a policy may have come or gone meanwhile.
    if (!m_app.PolicyPort().empty()) {
        ::SetDlgItemTextW(m_hWnd, IDC_MAIN_PORT_POLICY,
                          KRVN::LoadResourceString(resources, IDS_PORT_BY_POLICY).c_str());
    }
    ReloadServers();
    return TRUE;
}

void CMainDlg::CreateColumns() {
    const HINSTANCE resources = m_app.ResourceInstance();
    // Row pictures at the small-icon size of the dialog's monitor.
    const int size = SmallIconSize(m_hWnd);
    KRVN::unique_himagelist images(ImageList_Create(size, size, ILC_COLOR32 | ILC_MASK, 2, 1));
    if (images) {
        for (const UINT id : {IDI_SERVER_REACHABLE, IDI_SERVER_UNREACHABLE}) {
            const KRVN::unique_hicon icon = KRVN::LoadIconResource(resources, id, size);
            ImageList_AddIcon(images.get(), icon.get());
        }
        // The list destroys its image list itself (it does not share it).
        m_list.SetSmallImageList(images.release());
    }
    m_list.InsertColumn(kAddressColumn, KRVN::LoadResourceString(resources, IDS_COLUMN_SERVER),
                        110);
    m_list.InsertColumn(kPortColumn, KRVN::LoadResourceString(resources, IDS_COLUMN_PORT), 50);
    m_list.InsertColumn(kStateColumn, KRVN::LoadResourceString(resources, IDS_COLUMN_STATE), 155);
}

LRESULT CMainDlg::OnReloadServers(UINT, WPARAM, LPARAM) {
    ReloadServers();
    return 0;
}

void CMainDlg::ReloadServers() {
    m_list.DeleteAllItems();
    const auto servers = m_app.Servers();
    LONG count = 0;
    HRESULT hr = servers->get_Count(&count);
    if (hr != S_OK) {
        ShowCallError(m_hWnd, L"IQNServer->get_Count()", hr, MB_ICONERROR);
        return;
    }
    for (LONG index = 0; index < count; ++index) {
        VARIANT position;
        ::VariantInit(&position);
        V_VT(&position) = VT_I4;
        V_I4(&position) = index;
        KRVN::unique_variant item;
        KRVN::com_ptr<IQNServer> server;
        hr = servers->Item(position, item.put());
        // An entry without a server object is reported like a failed Item.
        if (hr == S_OK) {
            hr = ServerOf(item, server);
        }
        if (hr != S_OK) {
            ShowCallError(nullptr, CannotCreateObjectPrefix(L"QNServer"), hr, MB_ICONERROR);
            return;
        }
        KRVN::unique_bstr address;
        KRVN::unique_bstr password;
        ULONG port = 0;
        LONG stateCode = 0;
        const wchar_t* failedCall = nullptr;
        if ((hr = server->get_Address(address.put())) != S_OK) {
            failedCall = L"IQNServer->get_Address()";
        } else if ((hr = server->get_Password(password.put())) != S_OK) {
            failedCall = L"IQNServer->get_Password()";
        } else if ((hr = server->get_Port(&port)) != S_OK) {
            failedCall = L"IQNServer->get_Port()";
        } else if ((hr = server->get_StateCode(&stateCode)) != S_OK) {
            failedCall = L"IQNServer->get_StateCode()";
        }
        if (failedCall) {
            ShowCallError(m_hWnd, failedCall, hr, MB_ICONERROR);
            return;
        }
        InsertRow(BstrText(address), stateCode, PortText(port));
    }
}

int CMainDlg::InsertRow(const std::wstring& address, LONG stateCode, const std::wstring& portText) {
    // The list keeps its rows sorted by address; position 0 only asks.
    const int row =
        m_list.InsertItem(0, address, stateCode == 0 ? kReachableImage : kUnreachableImage);
    if (row < 0) {
        return -1;
    }
    m_list.SetItemText(row, kPortColumn, portText);
    m_list.SetItemText(row, kStateColumn, StateText(stateCode));
    return row;
}

void CMainDlg::OnClose(WORD, WORD id, HWND) {
    EndDialog(id);
}

void CMainDlg::OnAdd(WORD, WORD, HWND) {
    CServerInfoDlg properties(m_app, m_list, kNewServerPort);
    if (properties.DoModal(::GetActiveWindow()) != IDOK) {
        return;
    }
    const int row = InsertRow(properties.Address(), properties.StateCode(), properties.PortText());
    if (row >= 0) {
        m_list.SelectItem(row);
        ::SetFocus(m_list.Handle());
    }
}

void CMainDlg::OnDelete(WORD, WORD, HWND) {
    const int selected = m_list.GetSelectedIndex();
    if (selected < 0) {
        return;
    }
    // A reload while the question is open may put another server in this row.
    const std::wstring address = m_list.GetItemText(selected, kAddressColumn);
    if (ShowStringBox(m_hWnd, IDS_CONFIRM_DELETE, 0, MB_YESNO | MB_ICONQUESTION) == IDYES) {
        KRVN::CWaitCursor wait;
        const HRESULT hr = m_app.Servers()->Remove(KRVN::unique_bstr(address.c_str()).get());
        if (hr != S_OK) {
            ReportFailedCall(m_app, m_hWnd, L"IQNServers::Remove", hr);
        } else if (const int row = m_list.FindItem(address); row >= 0) {
            m_list.DeleteItem(row);
        }
    }
    const int count = m_list.GetItemCount();
    if (count > 0) {
        m_list.SelectItem(selected < count ? selected : count - 1);
        ::SetFocus(m_list.Handle());
    }
}

void CMainDlg::OnChangePort(WORD, WORD, HWND) {
    ChangeRedButtonPort(m_app, m_hWnd);
}

LRESULT CMainDlg::OnListKeyDown(NMHDR* header) {
    switch (reinterpret_cast<NMLVKEYDOWN*>(header)->wVKey) {
    case VK_INSERT:
        OnAdd(0, IDC_MAIN_ADD, nullptr);
        break;
    case VK_DELETE:
        OnDelete(0, IDC_MAIN_DELETE, nullptr);
        break;
    default:
        break;
    }
    return 0;
}
