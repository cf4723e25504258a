#include "alarm_ui/error_text.h"

#include <memory>

#include "alarm_ui/format_text.h"

namespace {

struct LocalFreeDeleter {
    void operator()(wchar_t* text) const noexcept { ::LocalFree(text); }
};

} // namespace

std::wstring ErrorText(DWORD code) {
    wchar_t* raw = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<LPWSTR>(&raw), 0, nullptr);
    const std::unique_ptr<wchar_t, LocalFreeDeleter> owned(raw);
    if (length == 0 || !raw) {
        return FormatText(L"error code=%u", code);
    }
    std::wstring text(raw, length);
    // Only the line end goes: a text without one keeps its last characters.
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) {
        text.pop_back();
    }
    return text;
}
