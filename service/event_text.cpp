#include "service/event_text.h"

#include <cwchar>
#include <iterator>

namespace {

bool IsControl(wchar_t c) noexcept {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029;
}

} // namespace

std::wstring EventText(const std::wstring& text) {
    std::wstring written;
    written.reserve(text.size());
    for (const wchar_t c : text) {
        if (!IsControl(c)) {
            written.push_back(c);
            continue;
        }
        wchar_t escape[12];
        std::swprintf(escape, std::size(escape), L"<U+%04X>", static_cast<unsigned>(c));
        written += escape;
    }
    return written;
}
