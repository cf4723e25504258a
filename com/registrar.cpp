#include "com/registrar.h"

#include <oleauto.h>
#include <sddl.h>

#include <cstdio>

#include "com/com_ptr.h"
#include "com/result.h"
#include "common/ca_exception.h"
#include "common/unique_handle.h"

namespace KRVN::com {

namespace {

HRESULT FromStatus(LSTATUS status) noexcept {
    return HResultFromStatus(static_cast<std::int32_t>(status));
}

// Removing what is not there counts as done.
HRESULT FromRemoval(LSTATUS status) noexcept {
    return status == ERROR_FILE_NOT_FOUND ? S_OK : FromStatus(status);
}

std::wstring GuidText(const GUID& guid) {
    wchar_t text[40] = {};
    ::StringFromGUID2(guid, text, 40);
    return text;
}

// A path with a blank must be quoted, or COM's CreateProcess could start a
// program named by the path's first word instead.
std::wstring CommandPath(const std::wstring& path) {
    return path.find(L' ') == std::wstring::npos ? path : L"\"" + path + L"\"";
}

// The machine's class registrations themselves. HKEY_CLASSES_ROOT merges in
// the caller's own classes: a process that is not the interactive user's (a
// package's custom action, the service) must not use it, and a key that
// exists under the user's classes would take a write meant for the machine.
std::wstring MachinePath(const std::wstring& path) {
    return L"SOFTWARE\\Classes\\" + path;
}

HRESULT CreateKey(const std::wstring& path, unique_hkey& key) noexcept {
    return FromStatus(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, MachinePath(path).c_str(), 0, nullptr,
                                        0, KEY_READ | KEY_WRITE, nullptr, key.put(), nullptr));
}

// name null is the key's default value.
HRESULT SetString(HKEY key, const wchar_t* name, const std::wstring& value) noexcept {
    const auto bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    return FromStatus(::RegSetValueExW(key, name, 0, REG_SZ,
                                       reinterpret_cast<const BYTE*>(value.c_str()), bytes));
}

// A security descriptor given as SDDL, stored self-relative as COM reads it.
HRESULT SetDescriptor(HKEY key, const wchar_t* name, const wchar_t* sddl) noexcept {
    unique_hlocal descriptor;
    ULONG size = 0;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                                descriptor.put(), &size)) {
        return HResultFromStatus(static_cast<std::int32_t>(::GetLastError()));
    }
    return FromStatus(::RegSetValueExW(key, name, 0, REG_BINARY,
                                       static_cast<const BYTE*>(descriptor.get()), size));
}

HRESULT WriteKey(const std::wstring& path, const std::wstring& defaultValue) noexcept {
    unique_hkey key;
    KRVN_RETURN_IF_FAILED(CreateKey(path, key));
    return SetString(key.get(), nullptr, defaultValue);
}

HRESULT DeleteTree(const std::wstring& path) noexcept {
    return FromRemoval(::RegDeleteTreeW(HKEY_LOCAL_MACHINE, MachinePath(path).c_str()));
}

// Keeps the first failure while the caller goes on.
void Remember(HRESULT& first, HRESULT hr) noexcept {
    if (SUCCEEDED(first) && FAILED(hr)) {
        first = hr;
    }
}

HRESULT WriteClass(const contract::ClassRegistration& entry,
                   const contract::ServerRegistration& server, const std::wstring& modulePath) {
    const std::wstring clsid = GuidText(*entry.clsid);
    const std::wstring progId = entry.progId;
    const std::wstring independent = entry.versionIndependentProgId;

    KRVN_RETURN_IF_FAILED(WriteKey(progId, entry.description));
    KRVN_RETURN_IF_FAILED(WriteKey(progId + L"\\CLSID", clsid));
    KRVN_RETURN_IF_FAILED(WriteKey(independent, entry.description));
    KRVN_RETURN_IF_FAILED(WriteKey(independent + L"\\CLSID", clsid));
    KRVN_RETURN_IF_FAILED(WriteKey(independent + L"\\CurVer", progId));

    const std::wstring path = L"CLSID\\" + clsid;
    KRVN_RETURN_IF_FAILED(DeleteTree(path));
    unique_hkey key;
    KRVN_RETURN_IF_FAILED(CreateKey(path, key));
    KRVN_RETURN_IF_FAILED(SetString(key.get(), nullptr, entry.description));
    KRVN_RETURN_IF_FAILED(SetString(key.get(), L"AppID", GuidText(*server.appId.appId)));
    KRVN_RETURN_IF_FAILED(WriteKey(path + L"\\ProgID", progId));
    KRVN_RETURN_IF_FAILED(WriteKey(path + L"\\VersionIndependentProgID", independent));
    unique_hkey programmable;
    KRVN_RETURN_IF_FAILED(CreateKey(path + L"\\Programmable", programmable));
    KRVN_RETURN_IF_FAILED(WriteKey(path + L"\\LocalServer32", CommandPath(modulePath)));
    return WriteKey(path + L"\\TypeLib", GuidText(*server.typeLib.libId));
}

// TypeLib\{LIBID}\<major>.<minor>, the version written in hexadecimal.
std::wstring TypeLibVersionPath(const contract::TypeLibRegistration& lib) {
    wchar_t version[16] = {};
    std::swprintf(version, 16, L"\\%x.%x", lib.major, lib.minor);
    return L"TypeLib\\" + GuidText(*lib.libId) + version;
}

const wchar_t* PlatformName() noexcept {
    return sizeof(void*) == 8 ? L"win64" : L"win32";
}

std::wstring AppIdPath(const contract::AppIdRegistration& appId) {
    return L"AppID\\" + GuidText(*appId.appId);
}

} // namespace

HRESULT Registrar::RegisterAppId() const noexcept {
    try {
        const contract::AppIdRegistration& appId = m_server.appId;
        KRVN_RETURN_IF_FAILED(WriteKey(AppIdPath(appId), appId.name));
        if (appId.permissions) {
            unique_hkey key;
            KRVN_RETURN_IF_FAILED(CreateKey(AppIdPath(appId), key));
            KRVN_RETURN_IF_FAILED(SetDescriptor(key.get(), L"LaunchPermission", appId.permissions));
            KRVN_RETURN_IF_FAILED(SetDescriptor(key.get(), L"AccessPermission", appId.permissions));
        }
        unique_hkey exe;
        KRVN_RETURN_IF_FAILED(CreateKey(std::wstring(L"AppID\\") + appId.exeName, exe));
        return SetString(exe.get(), L"AppID", GuidText(*appId.appId));
    }
    KRVN_CATCH_RETURN()
}

HRESULT Registrar::UnregisterAppId() const noexcept {
    try {
        HRESULT first = S_OK;
        Remember(first, DeleteTree(AppIdPath(m_server.appId)));
        Remember(first, DeleteTree(std::wstring(L"AppID\\") + m_server.appId.exeName));
        return first;
    }
    KRVN_CATCH_RETURN()
}

HRESULT Registrar::SetLocalService(const std::wstring& serviceName) const noexcept {
    try {
        unique_hkey key;
        KRVN_RETURN_IF_FAILED(CreateKey(AppIdPath(m_server.appId), key));
        return SetString(key.get(), L"LocalService", serviceName);
    }
    KRVN_CATCH_RETURN()
}

HRESULT Registrar::DeleteLocalService() const noexcept {
    try {
        unique_hkey key;
        const LSTATUS opened =
            ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, MachinePath(AppIdPath(m_server.appId)).c_str(), 0,
                            KEY_SET_VALUE, key.put());
        if (opened != ERROR_SUCCESS) {
            return FromRemoval(opened);
        }
        return FromRemoval(::RegDeleteValueW(key.get(), L"LocalService"));
    }
    KRVN_CATCH_RETURN()
}

HRESULT Registrar::GetLocalService(std::wstring& serviceName) const noexcept {
    try {
        serviceName.clear();
        const std::wstring path = MachinePath(AppIdPath(m_server.appId));
        DWORD bytes = 0;
        LSTATUS status = ::RegGetValueW(HKEY_LOCAL_MACHINE, path.c_str(), L"LocalService",
                                        RRF_RT_REG_SZ, nullptr, nullptr, &bytes);
        if (status == ERROR_FILE_NOT_FOUND) {
            return S_FALSE;
        }
        KRVN_RETURN_IF_FAILED(FromStatus(status));
        std::wstring value(bytes / sizeof(wchar_t), L'\0');
        status = ::RegGetValueW(HKEY_LOCAL_MACHINE, path.c_str(), L"LocalService", RRF_RT_REG_SZ,
                                nullptr, value.data(), &bytes);
        KRVN_RETURN_IF_FAILED(FromStatus(status));
        value.resize(bytes / sizeof(wchar_t));
        while (!value.empty() && value.back() == L'\0') {
            value.pop_back();
        }
        serviceName = std::move(value);
        return S_OK;
    }
    KRVN_CATCH_RETURN()
}

HRESULT Registrar::RegisterClasses(const std::wstring& modulePath) const noexcept {
    try {
        for (const contract::ClassRegistration* entry : m_server.classes) {
            KRVN_RETURN_IF_FAILED(WriteClass(*entry, m_server, modulePath));
        }
        return S_OK;
    }
    KRVN_CATCH_RETURN()
}

HRESULT Registrar::UnregisterClasses() const noexcept {
    try {
        HRESULT first = S_OK;
        for (const contract::ClassRegistration* entry : m_server.classes) {
            Remember(first, DeleteTree(entry->progId));
            Remember(first, DeleteTree(entry->versionIndependentProgId));
            Remember(first, DeleteTree(L"CLSID\\" + GuidText(*entry->clsid)));
        }
        return first;
    }
    KRVN_CATCH_RETURN()
}

HRESULT Registrar::RegisterTypeLib(const std::wstring& modulePath) const noexcept {
    try {
        com_ptr<ITypeLib> library;
        KRVN_RETURN_IF_FAILED(::LoadTypeLibEx(modulePath.c_str(), REGKIND_REGISTER, library.put()));
        // Wine's type-library marshaller looks for the library under the
        // neutral locale only; without this entry no interface of a library
        // with a locale of its own crosses a process boundary there.
        // Windows finds the library either way.
        const contract::TypeLibRegistration& lib = m_server.typeLib;
        if (lib.lcid == LANG_NEUTRAL) {
            return S_OK;
        }
        return WriteKey(TypeLibVersionPath(lib) + L"\\0\\" + PlatformName(), modulePath);
    }
    KRVN_CATCH_RETURN()
}

HRESULT Registrar::UnregisterTypeLib() const noexcept {
    try {
        const contract::TypeLibRegistration& lib = m_server.typeLib;
        const std::wstring version = TypeLibVersionPath(lib);
        unique_hkey key;
        const LSTATUS opened = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, MachinePath(version).c_str(), 0,
                                               KEY_READ, key.put());
        if (opened != ERROR_SUCCESS) {
            return FromRemoval(opened);
        }
        if (lib.lcid != LANG_NEUTRAL) {
            KRVN_RETURN_IF_FAILED(DeleteTree(version + L"\\0"));
        }
        const SYSKIND kind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
        return ::UnRegisterTypeLib(*lib.libId, lib.major, lib.minor, lib.lcid, kind);
    }
    KRVN_CATCH_RETURN()
}

HRESULT Registrar::RegisterServer(const std::wstring& modulePath) const noexcept {
    KRVN_RETURN_IF_FAILED(RegisterClasses(modulePath));
    return RegisterTypeLib(modulePath);
}

HRESULT Registrar::UnregisterServer() const noexcept {
    HRESULT first = S_OK;
    Remember(first, UnregisterClasses());
    Remember(first, UnregisterTypeLib());
    return first;
}

std::wstring Registrar::ModulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            KRVN_RAISE(HResultFromStatus(static_cast<std::int32_t>(::GetLastError())));
        }
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

} // namespace KRVN::com
