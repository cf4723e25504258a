#include "config/policy_key.h"

#include <windows.h>

#include "common/unique_handle.h"
#include "config/setting_names.h"

namespace KRVN {

namespace {

// A value rewritten between the size and the read is read again, a few times.
constexpr int kReadTries = 4;

} // namespace

std::optional<RegistryData> ReadPolicyData(const wchar_t* name) {
    unique_hkey key;
    LSTATUS status =
        ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPolicyKeyPath, 0, KEY_QUERY_VALUE, key.put());
    if (status == ERROR_FILE_NOT_FOUND) {
        return std::nullopt;
    }
    RegistryData data{REG_NONE, {}};
    if (status != ERROR_SUCCESS) {
        return data;
    }
    for (int i = 0; i < kReadTries; ++i) {
        DWORD type = REG_NONE;
        DWORD size = 0;
        status = ::RegQueryValueExW(key.get(), name, nullptr, &type, nullptr, &size);
        if (status == ERROR_FILE_NOT_FOUND) {
            return std::nullopt;
        }
        if (status != ERROR_SUCCESS) {
            break;
        }
        data.bytes.resize(size);
        status = ::RegQueryValueExW(key.get(), name, nullptr, &type, data.bytes.data(), &size);
        if (status == ERROR_SUCCESS) {
            data.type = type;
            data.bytes.resize(size);
            return data;
        }
        if (status == ERROR_FILE_NOT_FOUND) {
            return std::nullopt;
        }
        if (status != ERROR_MORE_DATA) {
            break;
        }
    }
    return RegistryData{REG_NONE, {}};
}

} // namespace KRVN
