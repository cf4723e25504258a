#pragma once
// A thin handle on a list box.

#include <windows.h>

#include <string>

namespace KRVN {

class CListBox {
public:
    CListBox() = default;
    explicit CListBox(HWND control) noexcept : m_hWnd(control) {}

    int AddString(const std::wstring& text);
    void ResetContent();
    int GetCount() const;
    std::wstring GetText(int index) const;
    void SetHorizontalExtent(int width);

    // Sets the horizontal scroll extent to the widest line as drawn in the
    // list's font, plus the font's average character width.
    void FitHorizontalExtent();

private:
    LRESULT Send(UINT message, WPARAM wParam, LPARAM lParam) const {
        return ::SendMessageW(m_hWnd, message, wParam, lParam);
    }

    HWND m_hWnd = nullptr;
};

} // namespace KRVN
