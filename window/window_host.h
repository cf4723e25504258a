#pragma once
// What our window and dialog bases share: the window they stand for, bound
// by the window procedure on the window's first message of its own and
// forgotten when it is destroyed, and the hand-over of every message to the
// class's message map.

#include <windows.h>

namespace KRVN {

class CWindowHost {
public:
    CWindowHost(const CWindowHost&) = delete;
    CWindowHost& operator=(const CWindowHost&) = delete;

    // The window while it exists, else null.
    HWND Handle() const noexcept { return m_hWnd; }

protected:
    CWindowHost() = default;
    ~CWindowHost() = default;

    // The object behind hwnd, kept in the window's `slot`: `created` (from
    // the message that makes the window) is stored there first.
    template <class Host> static Host* Bind(HWND hwnd, int slot, Host* created) noexcept {
        if (created) {
            ::SetWindowLongPtrW(hwnd, slot, reinterpret_cast<LONG_PTR>(created));
            created->m_hWnd = hwnd;
            return created;
        }
        return reinterpret_cast<Host*>(::GetWindowLongPtrW(hwnd, slot));
    }

    // Gives the message to T's message map; true when it handled it. No
    // exception may unwind through the system's frames: a handler that fails
    // leaves the message to the default handling.
    template <class T>
    static bool Route(T* target, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                      LRESULT& result) noexcept {
        bool handled = false;
        try {
            handled = target->ProcessWindowMessage(hwnd, message, wParam, lParam, result);
        } catch (...) {
            handled = false;
        }
        if (message == WM_NCDESTROY) {
            target->m_hWnd = nullptr;
        }
        return handled;
    }

    HWND m_hWnd = nullptr;
};

} // namespace KRVN
