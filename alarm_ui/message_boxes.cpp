#include "alarm_ui/message_boxes.h"

#include "alarm_ui/app_strings.h"
#include "alarm_ui/error_text.h"
#include "alarm_ui/format_text.h"
#include "alarm_ui/resource_instance.h"
#include "window/resource_string.h"

std::wstring CallErrorText(const std::wstring& prefix, HRESULT code) {
    const auto value = static_cast<DWORD>(code);
    return FormatText(L"%sОшибка : %s(%#x)", prefix.c_str(), ErrorText(value).c_str(), value);
}

int ShowCallError(HWND owner, const std::wstring& prefix, HRESULT code, UINT flags) {
    return ShowTextBox(owner, CallErrorText(prefix, code), 0, flags);
}

int ShowStringBox(HWND owner, UINT stringId, int focusControl, UINT flags) {
    return ShowTextBox(owner, KRVN::LoadResourceString(ResourceInstance(), stringId), focusControl,
                       flags);
}

int ShowTextBox(HWND owner, const std::wstring& text, int focusControl, UINT flags) {
    const int pressed = ::MessageBoxW(owner, text.c_str(), kAppTitle, flags);
    if (owner && focusControl != 0) {
        ::SetFocus(::GetDlgItem(owner, focusControl));
    }
    return pressed;
}

int ShowCodeBox(HWND owner, UINT stringId, HRESULT code, UINT flags) {
    const std::wstring format = KRVN::LoadResourceString(ResourceInstance(), stringId);
    const auto value = static_cast<DWORD>(code);
    return ShowTextBox(owner, FormatText(format.c_str(), ErrorText(value).c_str(), value), 0,
                       flags);
}
