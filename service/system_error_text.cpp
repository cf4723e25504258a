#include "service/system_error_text.h"

#include "common/unique_handle.h"

std::wstring SystemErrorText(DWORD code) {
    KRVN::unique_hlocal_string text;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(text.put()), 0, nullptr);
    if (length == 0 || !text) {
        return L"unknown error";
    }
    std::wstring line(text.get(), length);
    // The message puts the text in parentheses and ends the sentence itself.
    while (!line.empty() && (line.back() == L'\n' || line.back() == L'\r' || line.back() == L' ' ||
                             line.back() == L'.')) {
        line.pop_back();
    }
    return line;
}
