#include "window/list_box.h"

#include <algorithm>

#include "window/device_context.h"

namespace KRVN {

int CListBox::AddString(const std::wstring& text) {
    return static_cast<int>(Send(LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str())));
}

void CListBox::ResetContent() {
    Send(LB_RESETCONTENT, 0, 0);
}

int CListBox::GetCount() const {
    return static_cast<int>(Send(LB_GETCOUNT, 0, 0));
}

std::wstring CListBox::GetText(int index) const {
    return EntryText(LB_GETTEXTLEN, LB_GETTEXT, index);
}

void CListBox::SetHorizontalExtent(int width) {
    Send(LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(width), 0);
}

void CListBox::FitHorizontalExtent() {
    CClientDC dc(m_hWnd);
    if (!dc) {
        return;
    }
    CSelectObject font(dc.get(), reinterpret_cast<HGDIOBJ>(Send(WM_GETFONT, 0, 0)));
    TEXTMETRICW metrics = {};
    ::GetTextMetricsW(dc.get(), &metrics);
    LONG widest = 0;
    const int count = GetCount();
    for (int i = 0; i < count; ++i) {
        const std::wstring line = GetText(i);
        SIZE size = {};
        if (::GetTextExtentPoint32W(dc.get(), line.c_str(), static_cast<int>(line.size()), &size)) {
            widest = std::max(widest, size.cx);
        }
    }
    SetHorizontalExtent(static_cast<int>(widest + metrics.tmAveCharWidth));
}

} // namespace KRVN
