#include "alarm_ui/shell_icon.h"

#include <algorithm>

#include "alarm_ui/change_icon_events.h"
#include "alarm_ui/main_dlg.h"
#include "alarm_ui/message_boxes.h"
#include "alarm_ui/resource.h"
#include "alarm_ui/tray_app.h"
#include "window/resource_string.h"

namespace {

// The picture for each aggregate state; 0 keeps the current one.
WORD IconForState(eConnectState state) {
    switch (state) {
    case AllConnected:
        return IDI_ALL_CONNECTED;
    case AllDisconnected:
        return IDI_NONE_CONNECTED;
    case SomeConnected:
        return IDI_SOME_CONNECTED;
    case NoneConnect:
        return IDI_NO_SERVERS;
    default:
        return 0;
    }
}

} // namespace

ShellIcon::ShellIcon(CTrayApp& app) : CShellIconHelper(app.ResourceInstance()), m_app(app) {}

ShellIcon::~ShellIcon() {
    if (const auto events = m_app.Alarm().try_query<IEstablishCommunications>()) {
        events->UnadviseChangeIcon();
    }
    // Waits for a change being queued right now; none can come after.
    ChangeIconEvents::Instance().Withdraw(this);
    m_settings.reset();
    ShowIcon(false);
}

bool ShellIcon::Init() {
    ChangeIconEvents::Instance().Publish(this);
    if (const auto events = m_app.Alarm().try_query<IEstablishCommunications>()) {
        const HRESULT hr = events->AdviseChangeIcon(&ChangeIconEvents::Instance());
        if (hr != S_OK) {
            ShowCallError(nullptr, L"IEstablishCommunications->AdviseChangeIcon()", hr,
                          MB_ICONERROR);
        }
    }
    SetTooltipText(KRVN::LoadResourceString(Resources(), IDS_TOOLTIP));
    SetIcon(IDI_UNKNOWN_STATE);
    ShowIcon(true);
    // Changes reported before the icon existed are shown now.
    ApplyPendingChanges();

    eConnectState state = UnknownState;
    const HRESULT hr = m_app.Servers()->get_State(&state);
    if (hr != S_OK) {
        ShowCallError(m_hWnd, L"IQNServers::RefreshState", hr, MB_ICONERROR);
        return false;
    }
    ApplyStateChange(state, std::wstring());
    OpenSettings();
    return true;
}

void ShellIcon::PostStateChange(eConnectState state, std::wstring addresses) {
    std::lock_guard<std::mutex> guard(m_pendingLock);
    m_pending.emplace_back(state, std::move(addresses));
    // One announcement for however many changes pile up meanwhile; one that
    // could not be posted is tried again with the next change.
    if (!m_announced && m_postTarget) {
        m_announced = ::PostMessageW(m_postTarget, kStateChangedMessage, 0, 0) != FALSE;
    }
}

void ShellIcon::ApplyStateChange(eConnectState state, const std::wstring& addresses) {
    ReloadSettings();
    ShowState(state, addresses);
}

void ShellIcon::ReloadSettings() {
    if (m_settings && m_settings->Handle()) {
        ::PostMessageW(m_settings->Handle(), kReloadServersMessage, 0, 0);
    }
}

void ShellIcon::ShowState(eConnectState state, const std::wstring& addresses) {
    if (const WORD icon = IconForState(state)) {
        SetIcon(icon);
    }
    if (addresses.empty()) {
        return;
    }
    // The service ends every address with a line feed.
    const auto lost = std::count(addresses.begin(), addresses.end(), L'\n');
    const std::wstring heading =
        KRVN::LoadResourceString(Resources(), lost > 1 ? IDS_LOST_SERVERS : IDS_LOST_SERVER);
    ShowBalloon(heading + L"\n" + addresses);
}

void ShellIcon::OpenSettings() {
    if (m_settings) {
        if (const HWND open = m_settings->Handle()) {
            ::ShowWindow(open, SW_SHOWNORMAL);
            ::SetForegroundWindow(open);
        }
        return;
    }
    m_settings = std::make_unique<CMainDlg>(m_app);
    m_settings->DoModal(::GetActiveWindow());
    m_settings.reset();
}

void ShellIcon::Exit() {
    ShowIcon(false);
    ::PostQuitMessage(0);
}

HRESULT ShellIcon::AddIcon() {
    const HRESULT hr = CShellIconHelper::AddIcon();
    if (SUCCEEDED(hr)) {
        SetPostTarget(m_hWnd);
    }
    return hr;
}

HRESULT ShellIcon::RemoveIcon() {
    SetPostTarget(nullptr);
    return CShellIconHelper::RemoveIcon();
}

LRESULT ShellIcon::OnTrayCallback(UINT, WPARAM, LPARAM mouseMessage) {
    if (static_cast<UINT>(mouseMessage) == WM_RBUTTONUP) {
        OnMenuCommand(TrackMenu(IDR_TRAY_MENU, true));
    }
    return 0;
}

LRESULT ShellIcon::OnStateChanged(UINT, WPARAM, LPARAM) {
    ApplyPendingChanges();
    return 0;
}

void ShellIcon::OnMenuCommand(UINT command) {
    switch (command) {
    case ID_TRAY_SETTINGS:
        OpenSettings();
        break;
    case ID_TRAY_EXIT:
        Exit();
        break;
    case ID_TRAY_SEND_ALARM:
        m_app.Servers()->SendAlarm();
        break;
    default:
        break;
    }
}

void ShellIcon::ApplyPendingChanges() {
    std::deque<std::pair<eConnectState, std::wstring>> changes;
    {
        std::lock_guard<std::mutex> guard(m_pendingLock);
        changes.swap(m_pending);
        m_announced = false;
    }
    if (changes.empty()) {
        return;
    }
    ReloadSettings();
    for (const auto& [state, addresses] : changes) {
        ShowState(state, addresses);
    }
}

void ShellIcon::SetPostTarget(HWND window) {
    std::lock_guard<std::mutex> guard(m_pendingLock);
    m_postTarget = window;
    m_announced = false;
}
