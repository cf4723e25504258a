#pragma once
// Base of our own (non-dialog) windows: registers the window class named by
// T::kClassName once per process and routes messages to T's message map;
// messages T does not handle go to DefWindowProcW.

#include <windows.h>

#include "window/window_host.h"

namespace KRVN {

template <class T> class CWindowImpl : public CWindowHost {
public:
    // Returns the new window, or null with the Win32 error set.
    HWND Create(HINSTANCE instance, HWND parent, const wchar_t* name, DWORD style,
                DWORD exStyle = 0) {
        if (!RegisterClass(instance)) {
            return nullptr;
        }
        return ::CreateWindowExW(exStyle, T::kClassName, name, style, 0, 0, 0, 0, parent, nullptr,
                                 instance, this);
    }

    BOOL DestroyWindow() { return m_hWnd ? ::DestroyWindow(m_hWnd) : FALSE; }

protected:
    ~CWindowImpl() {
        if (m_hWnd) {
            ::DestroyWindow(m_hWnd);
        }
    }

private:
    static bool RegisterClass(HINSTANCE instance) {
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof(wc);
        if (::GetClassInfoExW(instance, T::kClassName, &wc)) {
            return true;
        }
        wc.lpfnWndProc = &WindowProc;
        wc.hInstance = instance;
        wc.lpszClassName = T::kClassName;
        return ::RegisterClassExW(&wc) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }

    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        T* self = Bind(hwnd, GWLP_USERDATA,
                       message == WM_NCCREATE
                           ? static_cast<T*>(static_cast<CWindowImpl*>(
                                 reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams))
                           : nullptr);
        if (!self) {
            return ::DefWindowProcW(hwnd, message, wParam, lParam);
        }
        LRESULT result = 0;
        const bool handled = Route(self, hwnd, message, wParam, lParam, result);
        if (message == WM_NCDESTROY) {
            ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        }
        return handled ? result : ::DefWindowProcW(hwnd, message, wParam, lParam);
    }
};

} // namespace KRVN
