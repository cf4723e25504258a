#include "service/serial_comm_port_names.h"

#include <algorithm>

#include "common/unique_handle.h"

namespace {

constexpr wchar_t kSerialCommKey[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";

// Reads of one value whose name or data outgrew the buffers meanwhile (a
// port plugged in while the key is read): the sizes are asked again each
// time. A value that still does not fit is left out.
constexpr int kReadTries = 3;

struct ValueBuffers {
    std::vector<wchar_t> name;
    std::vector<wchar_t> data;
};

// Room for the longest value name and data the key holds now. The name's
// length comes without its terminator, the data's in bytes.
bool SizeFor(HKEY key, ValueBuffers& buffers) {
    DWORD nameChars = 0;
    DWORD dataBytes = 0;
    if (::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                           &nameChars, &dataBytes, nullptr, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    buffers.name.assign(nameChars + 1, L'\0');
    buffers.data.assign(dataBytes / sizeof(wchar_t) + 1, L'\0');
    return true;
}

} // namespace

std::vector<std::wstring> SerialCommPortNames(HKEY key) {
    std::vector<std::wstring> names;
    ValueBuffers buffers;
    if (!SizeFor(key, buffers)) {
        return names;
    }
    for (DWORD index = 0;; ++index) {
        DWORD type = REG_NONE;
        DWORD dataBytes = 0;
        LSTATUS status = ERROR_MORE_DATA;
        for (int tries = 0; status == ERROR_MORE_DATA && tries < kReadTries; ++tries) {
            if (tries > 0 && !SizeFor(key, buffers)) {
                return names;
            }
            auto nameChars = static_cast<DWORD>(buffers.name.size());
            dataBytes = static_cast<DWORD>(buffers.data.size() * sizeof(wchar_t));
            status = ::RegEnumValueW(key, index, buffers.name.data(), &nameChars, nullptr, &type,
                                     reinterpret_cast<BYTE*>(buffers.data.data()), &dataBytes);
        }
        if (status == ERROR_MORE_DATA || (status == ERROR_SUCCESS && type != REG_SZ)) {
            continue;
        }
        if (status != ERROR_SUCCESS) {
            return names;
        }
        const wchar_t* text = buffers.data.data();
        const wchar_t* end = std::find(text, text + dataBytes / sizeof(wchar_t), L'\0');
        if (end != text) {
            names.emplace_back(text, end);
        }
    }
}

std::vector<std::wstring> MachineSerialCommPortNames() {
    KRVN::unique_hkey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSerialCommKey, 0, KEY_QUERY_VALUE, key.put()) !=
        ERROR_SUCCESS) {
        return {};
    }
    return SerialCommPortNames(key.get());
}
