#pragma once
// The name under which CreateFileW opens a serial port. Only COM1 to COM9
// are DOS device names that the Win32 layer resolves by itself; a port
// numbered 10 or above exists only in the \\.\ namespace, which takes every
// number. Users, the registry and the dialogs keep the plain name ("COM12");
// only the open uses the device path.

#include <string>
#include <string_view>

namespace KRVN {

// "COMn" (any letter case, n decimal digits) becomes "\\.\COMn"; any other
// name (already "\\.\NAME", or empty) is returned unchanged.
inline std::wstring SerialPortPath(std::wstring_view name) {
    const auto upper = [](wchar_t c) { return c >= L'a' && c <= L'z' ? wchar_t(c - 32) : c; };
    bool plainCom = name.size() > 3 && upper(name[0]) == L'C' && upper(name[1]) == L'O' &&
                    upper(name[2]) == L'M';
    for (size_t i = 3; plainCom && i < name.size(); ++i) {
        plainCom = name[i] >= L'0' && name[i] <= L'9';
    }
    return plainCom ? L"\\\\.\\" + std::wstring(name) : std::wstring(name);
}

} // namespace KRVN
