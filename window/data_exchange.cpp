#include "window/data_exchange.h"

#include "window/window_text.h"

namespace KRVN {

namespace {

bool IsRadioButton(HWND control) {
    wchar_t className[16] = {};
    ::GetClassNameW(control, className, 16);
    if (::lstrcmpiW(className, L"Button") != 0) {
        return false;
    }
    const LONG_PTR type = ::GetWindowLongPtrW(control, GWL_STYLE) & BS_TYPEMASK;
    return type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON;
}

// Calls visit(button, index) for each button of the group.
template <typename Visit> void ForEachRadio(HWND dialog, int firstId, Visit visit) {
    int index = 0;
    for (HWND button = ::GetDlgItem(dialog, firstId); button && IsRadioButton(button);
         button = ::GetWindow(button, GW_HWNDNEXT), ++index) {
        if (index > 0 && (::GetWindowLongPtrW(button, GWL_STYLE) & WS_GROUP)) {
            return;
        }
        visit(button, index);
    }
}

} // namespace

void ExchangeText(HWND dialog, int id, std::wstring& value, Exchange direction) {
    const HWND control = ::GetDlgItem(dialog, id);
    if (direction == Exchange::ToControls) {
        ::SetWindowTextW(control, value.c_str());
    } else {
        value = GetWindowTextString(control);
    }
}

void ExchangeRadio(HWND dialog, int firstId, int& value, Exchange direction) {
    if (direction == Exchange::ToControls) {
        ForEachRadio(dialog, firstId, [&](HWND button, int index) {
            ::SendMessageW(button, BM_SETCHECK, index == value ? BST_CHECKED : BST_UNCHECKED, 0);
        });
        return;
    }
    value = -1;
    ForEachRadio(dialog, firstId, [&](HWND button, int index) {
        if (::SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED) {
            value = index;
        }
    });
}

} // namespace KRVN
