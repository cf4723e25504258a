#include "config/serial_comm_ports.h"

#include <algorithm>

#include "common/unique_handle.h"

namespace {

constexpr wchar_t kSerialCommKey[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";

// Tries of one value whose name or data outgrew the buffers meanwhile (a
// port plugged in while we read): the sizes are asked again each time.
constexpr int kGrowthTries = 3;

struct Buffers {
    std::vector<wchar_t> name;
    std::vector<wchar_t> data;
};

// Buffers for the longest value name and data the key holds now. The name's
// maximum is counted without its terminator; the data's in bytes.
bool SizeBuffers(HKEY key, Buffers& buffers) {
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

std::vector<std::wstring> ReadSerialCommPorts(HKEY key) {
    std::vector<std::wstring> ports;
    Buffers buffers;
    if (!SizeBuffers(key, buffers)) {
        return ports;
    }
    for (DWORD index = 0;; ++index) {
        DWORD type = 0;
        DWORD dataBytes = 0;
        LSTATUS status = ERROR_MORE_DATA;
        for (int tries = 0; status == ERROR_MORE_DATA && tries < kGrowthTries; ++tries) {
            if (tries > 0 && !SizeBuffers(key, buffers)) {
                return ports;
            }
            auto nameChars = static_cast<DWORD>(buffers.name.size());
            dataBytes = static_cast<DWORD>(buffers.data.size() * sizeof(wchar_t));
            status = ::RegEnumValueW(key, index, buffers.name.data(), &nameChars, nullptr, &type,
                                     reinterpret_cast<BYTE*>(buffers.data.data()), &dataBytes);
        }
        if (status == ERROR_MORE_DATA) {
            continue;
        }
        if (status != ERROR_SUCCESS) {
            break;
        }
        if (type != REG_SZ) {
            continue;
        }
        // The data need not end in a terminator, nor stop at the first one.
        const wchar_t* text = buffers.data.data();
        const wchar_t* end = std::find(text, text + dataBytes / sizeof(wchar_t), L'\0');
        if (end != text) {
            ports.emplace_back(text, end);
        }
    }
    return ports;
}

std::vector<std::wstring> MachineSerialPorts() {
    KRVN::unique_hkey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSerialCommKey, 0, KEY_QUERY_VALUE, key.put()) !=
        ERROR_SUCCESS) {
        return {};
    }
    return ReadSerialCommPorts(key.get());
}
