#pragma once
// The program's notification-area icon: its picture follows the service's
// aggregate connection state, balloons name lost servers, and its menu
// raises the alarm, opens the settings dialog or ends the program.
//
// State changes arrive on COM worker threads. They are queued here and
// handled on the main thread (by way of the hidden window), so that nothing
// but the main thread ever touches the settings dialog or the icon.

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "alarm_ui/shell_icon_helper.h"
#include "contract/TolvaneLib.h"

class CMainDlg;
class CTrayApp;

class ShellIcon : public CShellIconHelper<ShellIcon> {
public:
    explicit ShellIcon(CTrayApp& app);
    // Ends the state subscription, closes the icon and forgets the settings
    // dialog object.
    ~ShellIcon() override;

    // Subscribes to state changes, shows the icon, applies the current state
    // and runs the settings dialog until the user closes it. False when the
    // current state cannot be read: the program then ends.
    bool Init();

    // Any thread: queues a change for the main thread.
    void PostStateChange(eConnectState state, std::wstring addresses);

    // Main thread: the icon for the state, a reload request to an open
    // settings dialog, and a balloon when servers were lost.
    void ApplyStateChange(eConnectState state, const std::wstring& addresses);

    // Main thread: brings an open settings dialog forward, or runs a new one.
    void OpenSettings();

    // Main thread: removes the icon and ends the message loop with 0, and
    // with it every modal loop still open.
    void Exit();

    HRESULT AddIcon() override;
    HRESULT RemoveIcon() override;

    KRVN_BEGIN_MSG_MAP()
    KRVN_MESSAGE_HANDLER(kTrayCallbackMessage, OnTrayCallback)
    KRVN_MESSAGE_HANDLER(kStateChangedMessage, OnStateChanged)
    KRVN_CHAIN_MSG_MAP(CShellIconHelper<ShellIcon>)
    KRVN_END_MSG_MAP()

private:
    LRESULT OnTrayCallback(UINT, WPARAM, LPARAM mouseMessage);
    LRESULT OnStateChanged(UINT, WPARAM, LPARAM);
    void OnMenuCommand(UINT command);
    // A batch of queued changes asks for one reload only.
    void ApplyPendingChanges();
    void ReloadSettings();
    void ShowState(eConnectState state, const std::wstring& addresses);
    // The window that queued changes are announced to (null while none).
    void SetPostTarget(HWND window);

    CTrayApp& m_app;
    std::unique_ptr<CMainDlg> m_settings;

    std::mutex m_pendingLock;
    std::deque<std::pair<eConnectState, std::wstring>> m_pending;
    HWND m_postTarget = nullptr;
    bool m_announced = false;
};
