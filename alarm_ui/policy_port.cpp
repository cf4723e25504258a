#include "alarm_ui/policy_port.h"

#include <algorithm>
#include <vector>

#include "common/unique_handle.h"
#include "config/setting_names.h"

namespace {

// Reads of a value that grew between its size and its data (a policy
// refresh meanwhile): the size is asked again each time.
constexpr int kReadTries = 3;

} // namespace

std::wstring ReadPolicyPort(HKEY policyKey) {
    std::vector<wchar_t> data;
    DWORD type = REG_NONE;
    DWORD bytes = 0;
    LSTATUS status = ERROR_MORE_DATA;
    for (int tries = 0; status == ERROR_MORE_DATA && tries < kReadTries; ++tries) {
        if (::RegQueryValueExW(policyKey, KRVN::kComPortValue, nullptr, &type, nullptr, &bytes) !=
                ERROR_SUCCESS ||
            type != REG_SZ) {
            return {};
        }
        // One character more, zeroed, for a terminator the data may lack.
        data.assign(bytes / sizeof(wchar_t) + 1, L'\0');
        bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
        status = ::RegQueryValueExW(policyKey, KRVN::kComPortValue, nullptr, &type,
                                    reinterpret_cast<BYTE*>(data.data()), &bytes);
    }
    if (status != ERROR_SUCCESS || type != REG_SZ) {
        return {};
    }
    const wchar_t* text = data.data();
    return std::wstring(text, std::find(text, text + bytes / sizeof(wchar_t), L'\0'));
}

std::wstring MachinePolicyPort(decltype(&::RegOpenKeyExW) open) {
    // Query only: the key grants users no more than reading.
    KRVN::unique_hkey key;
    if (open(HKEY_LOCAL_MACHINE, KRVN::kPolicyKeyPath, 0, KEY_QUERY_VALUE, key.put()) !=
        ERROR_SUCCESS) {
        return {};
    }
    return ReadPolicyPort(key.get());
}
