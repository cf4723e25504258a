#include "alarm_ui/format_text.h"

#include <cstdarg>
#include <cwchar>

std::wstring FormatText(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    va_list measure;
    va_copy(measure, args);
    const int length = ::_vscwprintf(format, measure);
    va_end(measure);
    std::wstring text;
    if (length > 0) {
        text.resize(static_cast<size_t>(length) + 1);
        ::_vsnwprintf(text.data(), text.size(), format, args);
        text.resize(static_cast<size_t>(length));
    }
    va_end(args);
    return text;
}

std::wstring PortText(ULONG port) {
    return port == 0 ? std::wstring() : FormatText(L"%u", static_cast<unsigned>(port));
}

std::wstring BstrText(const KRVN::unique_bstr& text) {
    return text ? std::wstring(text.get(), text.length()) : std::wstring();
}
