#pragma once
// Base of our modal dialogs: runs the dialog template T::IDD with
// DialogBoxParamW and routes its messages to T's message map. The dialog
// object lives on the caller's side; only its window comes and goes.

#include <windows.h>

#include "window/window_host.h"

namespace KRVN {

template <class T> class CModalDialog : public CWindowHost {
public:
    // Returns the value passed to EndDialog, or -1 when the dialog could not
    // be created.
    INT_PTR DoModal(HINSTANCE resources, HWND owner) {
        return ::DialogBoxParamW(resources, MAKEINTRESOURCEW(T::IDD), owner, &DialogProc,
                                 reinterpret_cast<LPARAM>(this));
    }

    HWND Item(int id) const noexcept { return ::GetDlgItem(m_hWnd, id); }

protected:
    ~CModalDialog() = default;

    void EndDialog(INT_PTR result) { ::EndDialog(m_hWnd, result); }

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        T* self =
            Bind(hwnd, DWLP_USER,
                 message == WM_INITDIALOG ? static_cast<T*>(reinterpret_cast<CModalDialog*>(lParam))
                                          : nullptr);
        // Messages that come before WM_INITDIALOG (WM_SETFONT) get the default.
        if (!self) {
            return FALSE;
        }
        LRESULT result = 0;
        if (!Route(self, hwnd, message, wParam, lParam, result)) {
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
