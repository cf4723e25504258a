#pragma once
// Base of our modal dialogs: runs the dialog template T::IDD with
// DialogBoxParamW and routes its messages to T's message map. The dialog
// object lives on the caller's side; only its window comes and goes.

#include <windows.h>

namespace KRVN {

template <class T> class CModalDialog {
public:
    CModalDialog() = default;
    CModalDialog(const CModalDialog&) = delete;
    CModalDialog& operator=(const CModalDialog&) = delete;

    // Returns the value passed to EndDialog, or -1 when the dialog could not
    // be created.
    INT_PTR DoModal(HINSTANCE resources, HWND owner) {
        return ::DialogBoxParamW(resources, MAKEINTRESOURCEW(T::IDD), owner, &DialogProc,
                                 reinterpret_cast<LPARAM>(this));
    }

    // The dialog's window while it is open, else null.
    HWND Handle() const noexcept { return m_hWnd; }
    HWND Item(int id) const noexcept { return ::GetDlgItem(m_hWnd, id); }

protected:
    ~CModalDialog() = default;

    void EndDialog(INT_PTR result) { ::EndDialog(m_hWnd, result); }

    HWND m_hWnd = nullptr;

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        CModalDialog* self = nullptr;
        if (message == WM_INITDIALOG) {
            self = reinterpret_cast<CModalDialog*>(lParam);
            ::SetWindowLongPtrW(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
            self->m_hWnd = hwnd;
        } else {
            self = reinterpret_cast<CModalDialog*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
        }
        // Messages that come before WM_INITDIALOG (WM_SETFONT) get the default.
        if (!self) {
            return FALSE;
        }
        LRESULT result = 0;
        bool handled = false;
        // No exception may unwind through the system's frames; a handler
        // that fails leaves the message to the default handling.
        try {
            handled =
                static_cast<T*>(self)->ProcessWindowMessage(hwnd, message, wParam, lParam, result);
        } catch (...) {
            handled = false;
        }
        if (message == WM_NCDESTROY) {
            self->m_hWnd = nullptr;
        }
        if (!handled) {
            return FALSE;
        }
        // WM_INITDIALOG answers whether the system sets the focus; other
        // messages hand their result over through DWLP_MSGRESULT.
        if (message == WM_INITDIALOG) {
            return static_cast<INT_PTR>(result);
        }
        ::SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
        return TRUE;
    }
};

} // namespace KRVN
