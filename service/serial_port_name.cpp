#include "service/serial_port_name.h"

#include <algorithm>
#include <cwctype>

namespace {

constexpr std::wstring_view kDevicePrefix = L"\\\\.\\";

bool IsDigits(std::wstring_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

bool IsComName(std::wstring_view name) {
    return name.size() > 3 && std::towupper(name[0]) == L'C' && std::towupper(name[1]) == L'O' &&
           std::towupper(name[2]) == L'M' && IsDigits(name.substr(3));
}

} // namespace

bool IsSerialPortName(std::wstring_view name) {
    if (name.empty() || IsComName(name)) {
        return true;
    }
    if (name.substr(0, kDevicePrefix.size()) != kDevicePrefix) {
        return false;
    }
    const std::wstring_view device = name.substr(kDevicePrefix.size());
    return !device.empty() && device.find_first_of(L"\\/") == std::wstring_view::npos;
}
