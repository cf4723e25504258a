#include "alarm_ui/error_text.h"

#include "alarm_ui/format_text.h"
#include "common/unique_handle.h"

std::wstring ErrorText(DWORD code) {
    KRVN::unique_hlocal_string raw;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<LPWSTR>(raw.put()), 0, nullptr);
    if (length == 0 || !raw) {
        return FormatText(L"error code=%u", code);
    }
    std::wstring text(raw.get(), length);
    // Only the line end goes: a text without one keeps its last characters.
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) {
        text.pop_back();
    }
    return text;
}
