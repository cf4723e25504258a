#include "window/center_window.h"

namespace KRVN {

void CenterWindow(HWND window) {
    RECT own = {};
    if (!::GetWindowRect(window, &own)) {
        return;
    }
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    ::GetMonitorInfoW(::MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT& area = monitor.rcWork;

    RECT around = area;
    const HWND owner = ::GetWindow(window, GW_OWNER);
    if (owner && ::IsWindowVisible(owner) && !::IsIconic(owner)) {
        ::GetWindowRect(owner, &around);
    }
    const LONG width = own.right - own.left;
    const LONG height = own.bottom - own.top;
    LONG left = (around.left + around.right - width) / 2;
    LONG top = (around.top + around.bottom - height) / 2;
    // Over an owner near the screen's edge the dialog still stays whole.
    if (left + width > area.right) {
        left = area.right - width;
    }
    if (top + height > area.bottom) {
        top = area.bottom - height;
    }
    if (left < area.left) {
        left = area.left;
    }
    if (top < area.top) {
        top = area.top;
    }
    ::SetWindowPos(window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

} // namespace KRVN
