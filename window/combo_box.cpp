#include "window/combo_box.h"

namespace KRVN {

int CComboBox::AddString(const std::wstring& text) {
    return static_cast<int>(Send(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str())));
}

int CComboBox::FindString(int after, const std::wstring& prefix) const {
    const auto found = static_cast<int>(
        Send(CB_FINDSTRING, static_cast<WPARAM>(after), reinterpret_cast<LPARAM>(prefix.c_str())));
    return found == CB_ERR ? -1 : found;
}

int CComboBox::GetCurSel() const {
    return static_cast<int>(Send(CB_GETCURSEL, 0, 0));
}

void CComboBox::SetCurSel(int index) {
    Send(CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

std::wstring CComboBox::GetLBText(int index) const {
    const auto length = Send(CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == CB_ERR || length <= 0) {
        return {};
    }
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const auto copied =
        Send(CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(copied == CB_ERR ? 0 : static_cast<size_t>(copied));
    return text;
}

} // namespace KRVN
