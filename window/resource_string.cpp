#include "window/resource_string.h"

namespace KRVN {

std::wstring LoadResourceString(HINSTANCE module, UINT id) {
    // With a zero buffer size the system hands out a pointer into the loaded
    // resource itself (not terminated), so texts of any length come whole.
    const wchar_t* text = nullptr;
    const int length = ::LoadStringW(module, id, reinterpret_cast<LPWSTR>(&text), 0);
    if (length <= 0 || !text) {
        return {};
    }
    return std::wstring(text, static_cast<size_t>(length));
}

} // namespace KRVN
