#pragma once
// A notification-area icon with its hidden top-level window, which receives
// the icon's callback messages (kTrayCallbackMessage). T derives from
// CShellIconHelper<T> and chains its message map to this one.

#include <windows.h>
#include <shellapi.h>

#include <string>

#include "alarm_ui/app_messages.h"
#include "alarm_ui/app_strings.h"
#include "alarm_ui/icon_metrics.h"
#include "window/gdi_owners.h"
#include "window/message_map.h"
#include "window/window_impl.h"

template <class T> class CShellIconHelper : public KRVN::CWindowImpl<T> {
public:
    static constexpr wchar_t kClassName[] = L"KrvnShellIconHelper";
    static constexpr wchar_t kWindowName[] = L"ShellIconHiddenWindow";
    // Characters of tooltip, balloon title and balloon text that reach the
    // system, the terminator included.
    static constexpr size_t kTooltipLimit = 64;
    static constexpr size_t kBalloonTitleLimit = 64;
    static constexpr size_t kBalloonTextLimit = 256;
    static constexpr UINT kBalloonTimeoutMs = 30000;
    // A shell that refused the icon (busy at logon) is asked again at this
    // pace until it takes it.
    static constexpr UINT kAddRetryMs = 2000;

    // Where the icon records go: Shell_NotifyIconW unless replaced.
    using NotifyFunction = BOOL(WINAPI*)(DWORD, PNOTIFYICONDATAW);

    explicit CShellIconHelper(HINSTANCE resources) : m_resources(resources) {}
    virtual ~CShellIconHelper() = default;

    // Creates the hidden window, then adds the icon. The result is the Win32
    // error of the window creation; an icon the shell refused is added again
    // every kAddRetryMs until it is there.
    virtual HRESULT AddIcon() {
        if (!this->Create(m_resources, nullptr, kWindowName, WS_POPUP | WS_OVERLAPPEDWINDOW)) {
            return HRESULT_FROM_WIN32(::GetLastError());
        }
        AddToShell();
        return S_OK;
    }

    // Deletes the icon, then destroys the hidden window.
    virtual HRESULT RemoveIcon() {
        ::KillTimer(this->m_hWnd, kAddRetryTimer);
        if (m_added) {
            Notify(NIM_DELETE, 0);
            m_added = false;
        }
        this->DestroyWindow();
        return S_OK;
    }

    virtual void SetTooltipText(const std::wstring& text) {
        m_tooltip = text;
        if (m_shown) {
            Notify(NIM_MODIFY, NIF_MESSAGE | NIF_ICON | NIF_TIP);
        }
    }

    virtual void SetIcon(WORD iconId) {
        m_iconId = iconId;
        if (m_shown) {
            Notify(NIM_MODIFY, NIF_MESSAGE | NIF_ICON | NIF_TIP);
        }
    }

    virtual void ShowIcon(bool show) {
        if (show && !m_shown) {
            AddIcon();
        } else if (!show && m_shown) {
            RemoveIcon();
        }
        m_shown = show;
    }

    // Shows the first pop-up of the menu resource at the cursor; returns the
    // chosen command when asked to (0 when none, or when the menu cannot be
    // loaded).
    virtual UINT TrackMenu(UINT menuId, bool returnCommand) {
        const KRVN::unique_hmenu menu(::LoadMenuW(m_resources, MAKEINTRESOURCEW(menuId)));
        const HMENU popup = menu ? ::GetSubMenu(menu.get(), 0) : nullptr;
        if (!popup) {
            return 0;
        }
        POINT cursor = {};
        ::GetCursorPos(&cursor);
        // Without the foreground the menu would not close when the user
        // clicks elsewhere; WM_NULL lets it close on the first try.
        ::SetForegroundWindow(this->m_hWnd);
        const UINT flags = TPM_RIGHTBUTTON | (returnCommand ? TPM_RETURNCMD : 0);
        const auto command = static_cast<UINT>(
            ::TrackPopupMenu(popup, flags, cursor.x, cursor.y, 0, this->m_hWnd, nullptr));
        ::PostMessageW(this->m_hWnd, WM_NULL, 0, 0);
        return command;
    }

    // A balloon over the icon with the program's title; the tooltip stays.
    void ShowBalloon(const std::wstring& text) {
        if (m_shown) {
            Notify(NIM_MODIFY, NIF_MESSAGE | NIF_ICON | NIF_INFO, &text);
        }
    }

    bool IsShown() const noexcept { return m_shown; }
    WORD IconId() const noexcept { return m_iconId; }

    void SetNotifyFunction(NotifyFunction notify) noexcept { m_notify = notify; }

    KRVN_BEGIN_MSG_MAP()
    KRVN_MESSAGE_HANDLER(TaskbarCreatedMessage(), OnTaskbarCreated)
    KRVN_MESSAGE_HANDLER(WM_TIMER, OnTimer)
    KRVN_END_MSG_MAP()

protected:
    HINSTANCE Resources() const noexcept { return m_resources; }

private:
    // A restarted shell has forgotten our icon; it says so with this message.
    static UINT TaskbarCreatedMessage() {
        static const UINT message = ::RegisterWindowMessageW(L"TaskbarCreated");
        return message;
    }

    static constexpr UINT_PTR kAddRetryTimer = 1;

    LRESULT OnTaskbarCreated(UINT, WPARAM, LPARAM) {
        if (m_shown) {
            AddToShell();
        }
        return 0;
    }

    LRESULT OnTimer(UINT, WPARAM timer, LPARAM) {
        if (timer == kAddRetryTimer && m_shown && !m_added) {
            AddToShell();
        }
        return 0;
    }

    // Shell_NotifyIconW may fail (a shell still starting at logon): the icon
    // is then asked for again on a timer, so that the state, the balloons and
    // the menu to raise the alarm by hand are not gone for the whole logon.
    void AddToShell() {
        m_added = Notify(NIM_ADD, NIF_MESSAGE | NIF_ICON | NIF_TIP);
        if (m_added) {
            ::KillTimer(this->m_hWnd, kAddRetryTimer);
        } else {
            ::SetTimer(this->m_hWnd, kAddRetryTimer, kAddRetryMs, nullptr);
        }
    }

    bool Notify(DWORD message, UINT flags, const std::wstring* balloon = nullptr) {
        NOTIFYICONDATAW data = {};
        data.cbSize = NOTIFYICONDATAW_V2_SIZE;
        data.hWnd = this->m_hWnd;
        data.uID = 0;
        data.uFlags = flags;
        data.uCallbackMessage = kTrayCallbackMessage;
        // The notification area shows small icons at the DPI of its monitor.
        const KRVN::unique_hicon icon =
            KRVN::LoadIconResource(m_resources, m_iconId, SmallIconSize(this->m_hWnd));
        data.hIcon = icon.get();
        CopyLimited(data.szTip, kTooltipLimit, m_tooltip);
        if (balloon) {
            CopyLimited(data.szInfo, kBalloonTextLimit, *balloon);
            CopyLimited(data.szInfoTitle, kBalloonTitleLimit, kAppTitle);
            data.uTimeout = kBalloonTimeoutMs;
            data.dwInfoFlags = NIIF_INFO;
        }
        return m_notify(message, &data) != FALSE;
    }

    // Longer texts are cut to fit; the terminator always stays.
    static void CopyLimited(wchar_t* target, size_t limit, const std::wstring& text) {
        const size_t count = text.size() < limit ? text.size() : limit - 1;
        text.copy(target, count);
        target[count] = L'\0';
    }

    HINSTANCE m_resources;
    bool m_shown = false;
    // The shell holds the icon.
    bool m_added = false;
    WORD m_iconId = 0;
    std::wstring m_tooltip;
    NotifyFunction m_notify = &::Shell_NotifyIconW;
};
