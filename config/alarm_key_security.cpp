#include "config/alarm_key_security.h"

#include <sddl.h>

#include <atomic>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "common/ca_exception.h"
#include "common/unique_handle.h"
#include "config/registry_store.h"

namespace KRVN {

namespace {

std::atomic<HRESULT> g_lastProtection{S_OK};

// The longest key name the registry takes, and its terminator.
constexpr DWORD kKeyNameChars = 255 + 1;

HRESULT FromStatus(DWORD status) {
    return HResultFromStatus(static_cast<std::int32_t>(status));
}

// The settings key's ACEs as a subkey holds them once it inherits them:
// every one marked inherited. A system that works out inheritance itself
// arrives at the same two ACEs; one that does not (Wine) keeps them as
// given, where an empty list would lock everyone out of the subkey.
std::vector<unsigned char> InheritedDacl(PSECURITY_DESCRIPTOR descriptor) {
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (!::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present ||
        !dacl) {
        return {};
    }
    std::vector<unsigned char> copy(dacl->AclSize);
    std::memcpy(copy.data(), dacl, copy.size());
    const auto acl = reinterpret_cast<PACL>(copy.data());
    for (DWORD i = 0; i < acl->AceCount; ++i) {
        void* ace = nullptr;
        if (!::GetAce(acl, i, &ace)) {
            return {};
        }
        static_cast<ACE_HEADER*>(ace)->AceFlags |= INHERITED_ACE;
    }
    return copy;
}

// The names of the subkeys of HKLM\path.
DWORD ListSubkeys(const std::wstring& path, std::vector<std::wstring>& names) {
    unique_hkey key;
    const LSTATUS opened =
        ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ENUMERATE_SUB_KEYS, key.put());
    if (opened != ERROR_SUCCESS) {
        return static_cast<DWORD>(opened);
    }
    for (DWORD index = 0;; ++index) {
        wchar_t name[kKeyNameChars];
        DWORD chars = kKeyNameChars;
        const LSTATUS status =
            ::RegEnumKeyExW(key.get(), index, name, &chars, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) {
            return ERROR_SUCCESS;
        }
        if (status != ERROR_SUCCESS) {
            return static_cast<DWORD>(status);
        }
        names.emplace_back(name, chars);
    }
}

// SetNamedSecurityInfoW on every subkey, parents before their children, so
// each one takes what it inherits from the key just set: RegSetKeySecurity
// on the settings key reaches no subkey, and even a propagating set there
// passes over a subkey whose DACL is protected and leaves every subkey its
// own ACEs.
DWORD ResetSubkeys(SetNamedSecurityCall setDacl, PACL dacl) {
    const std::wstring root(kAlarmKeyPath);
    std::vector<std::wstring> pending{root};
    while (!pending.empty()) {
        const std::wstring path = std::move(pending.back());
        pending.pop_back();
        if (path != root) {
            std::wstring object = L"MACHINE\\" + path;
            const DWORD status =
                setDacl(object.data(), SE_REGISTRY_KEY,
                        DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                        nullptr, dacl, nullptr);
            if (status != ERROR_SUCCESS) {
                return status;
            }
        }
        std::vector<std::wstring> children;
        if (const DWORD listed = ListSubkeys(path, children); listed != ERROR_SUCCESS) {
            return listed;
        }
        for (const std::wstring& child : children) {
            pending.push_back(path + L"\\" + child);
        }
    }
    return ERROR_SUCCESS;
}

HRESULT ProtectTree(SetNamedSecurityCall setSubkeyDacl) {
    const unique_security_descriptor descriptor = AlarmKeySecurity();
    if (!descriptor) {
        return FromStatus(::GetLastError());
    }
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
    unique_hkey key;
    LSTATUS status =
        ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kAlarmKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                          WRITE_DAC, &attributes, key.put(), nullptr);
    if (status == ERROR_SUCCESS) {
        // An existing key keeps whatever DACL it had until it is set here.
        status = ::RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, descriptor.get());
    }
    if (status != ERROR_SUCCESS) {
        return FromStatus(static_cast<DWORD>(status));
    }
    std::vector<unsigned char> inherited = InheritedDacl(descriptor.get());
    if (inherited.empty()) {
        return E_UNEXPECTED;
    }
    return FromStatus(ResetSubkeys(setSubkeyDacl, reinterpret_cast<PACL>(inherited.data())));
}

} // namespace

unique_security_descriptor AlarmKeySecurity() {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kAlarmKeySddl, SDDL_REVISION_1,
                                                                &descriptor, nullptr)) {
        return {};
    }
    return unique_security_descriptor(descriptor);
}

HRESULT ProtectAlarmKey(SetNamedSecurityCall setSubkeyDacl) {
    const HRESULT result = ProtectTree(setSubkeyDacl);
    g_lastProtection = result;
    return result;
}

HRESULT AlarmKeyProtection() noexcept {
    return g_lastProtection;
}

} // namespace KRVN
