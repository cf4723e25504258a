#include "service/serial_port_name.h"

#include <windows.h>

#include <algorithm>
#include <climits>

#include "config/serial_comm_ports.h"

namespace {

constexpr std::wstring_view kDevicePrefix = L"\\\\.\\";

bool IsNumberFromOne(std::wstring_view text) {
    return !text.empty() && text.front() != L'0' &&
           std::all_of(text.begin(), text.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

bool IsComName(std::wstring_view name) {
    const auto upper = [](wchar_t c) { return c >= L'a' && c <= L'z' ? wchar_t(c - 32) : c; };
    return name.size() > 3 && upper(name[0]) == L'C' && upper(name[1]) == L'O' &&
           upper(name[2]) == L'M' && IsNumberFromOne(name.substr(3));
}

bool HasDevicePrefix(std::wstring_view name) {
    return name.substr(0, kDevicePrefix.size()) == kDevicePrefix;
}

// Port names are compared as the system compares object names: ordinal,
// letter case folded.
bool SameName(std::wstring_view a, const std::wstring& b) {
    return a.size() <= INT_MAX && b.size() <= INT_MAX &&
           ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                  static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

} // namespace

bool IsSerialPortName(std::wstring_view name, const std::vector<std::wstring>& machinePorts) {
    if (name.empty() || IsComName(name)) {
        return true;
    }
    if (!HasDevicePrefix(name)) {
        return false;
    }
    const std::wstring_view device = name.substr(kDevicePrefix.size());
    return IsComName(device) || std::any_of(machinePorts.begin(), machinePorts.end(),
                                            [device](const std::wstring& port) {
                                                return !port.empty() && SameName(device, port);
                                            });
}

bool IsSerialPortName(std::wstring_view name) {
    const bool needsList = HasDevicePrefix(name) && !IsComName(name.substr(kDevicePrefix.size()));
    return IsSerialPortName(name, needsList ? MachineSerialPorts() : std::vector<std::wstring>());
}
