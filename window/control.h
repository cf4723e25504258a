#pragma once
// Base of our thin control handles: the control's window and the messages
// sent to it. Copies name the same control.

#include <windows.h>

#include <string>

namespace KRVN {

class CControl {
public:
    CControl() = default;
    explicit CControl(HWND control) noexcept : m_hWnd(control) {}

    HWND Handle() const noexcept { return m_hWnd; }

protected:
    LRESULT Send(UINT message, WPARAM wParam, LPARAM lParam) const {
        return ::SendMessageW(m_hWnd, message, wParam, lParam);
    }

    // An entry's text through the control's length and text messages (a
    // list box's or a combo box's, whose error answer is -1); empty for a
    // bad index.
    std::wstring EntryText(UINT lengthMessage, UINT textMessage, int index) const {
        const auto length = Send(lengthMessage, static_cast<WPARAM>(index), 0);
        if (length <= 0) {
            return {};
        }
        std::wstring text(static_cast<size_t>(length) + 1, L'\0');
        const auto copied =
            Send(textMessage, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
        text.resize(copied < 0 ? 0 : static_cast<size_t>(copied));
        return text;
    }

    HWND m_hWnd = nullptr;
};

} // namespace KRVN
