#include "window/combo_box.h"

namespace KRVN {

int CComboBox::AddString(const std::wstring& text) {
    return static_cast<int>(Send(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str())));
}

int CComboBox::GetCurSel() const {
    return static_cast<int>(Send(CB_GETCURSEL, 0, 0));
}

void CComboBox::SetCurSel(int index) {
    Send(CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

std::wstring CComboBox::GetLBText(int index) const {
    return EntryText(CB_GETLBTEXTLEN, CB_GETLBTEXT, index);
}

} // namespace KRVN
