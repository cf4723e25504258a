#include "service/install_settings_writer.h"

#include <string>

#include "com/result.h"
#include "common/unique_handle.h"
#include "config/alarm_key_security.h"
#include "config/registry_store.h"
#include "config/setting_names.h"

namespace {

HRESULT FromStatus(LSTATUS status) {
    return HRESULT_FROM_WIN32(static_cast<DWORD>(status));
}

HRESULT OpenForValues(KRVN::unique_hkey& key) {
    return FromStatus(
        ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, KRVN::kSettingsKeyPath, 0, KEY_SET_VALUE, key.put()));
}

HRESULT SetDword(HKEY key, const wchar_t* name, DWORD number) {
    return FromStatus(::RegSetValueExW(key, name, 0, REG_DWORD,
                                       reinterpret_cast<const BYTE*>(&number), sizeof number));
}

// The size of REG_SZ data counts its terminating null.
HRESULT SetText(HKEY key, const wchar_t* name, const std::wstring& text) {
    return FromStatus(::RegSetValueExW(key, name, 0, REG_SZ,
                                       reinterpret_cast<const BYTE*>(text.c_str()),
                                       static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))));
}

HRESULT Delete(HKEY key, const wchar_t* name) {
    const LSTATUS status = ::RegDeleteValueW(key, name);
    return status == ERROR_FILE_NOT_FOUND ? S_OK : FromStatus(status);
}

} // namespace

HRESULT WriteInstallSettings(const InstallSettings& settings) {
    if (settings.Empty()) {
        return S_OK;
    }
    KRVN_RETURN_IF_FAILED(KRVN::ProtectAlarmKey());
    if (settings.comPort) {
        KRVN_RETURN_IF_FAILED(KRVN::SaveComPort(*settings.comPort));
    }
    if (!settings.adminOnly && !settings.checkDelay) {
        return S_OK;
    }
    KRVN::unique_hkey key;
    KRVN_RETURN_IF_FAILED(OpenForValues(key));
    if (settings.adminOnly) {
        KRVN_RETURN_IF_FAILED(SetDword(key.get(), KRVN::kAdminOnlyValue, *settings.adminOnly));
    }
    if (settings.checkDelay) {
        KRVN_RETURN_IF_FAILED(SetDword(key.get(), KRVN::kCheckDelayValue, *settings.checkDelay));
    }
    return S_OK;
}

HRESULT RestorePriorSettings(const std::vector<PriorValue>& prior) {
    if (prior.empty()) {
        return S_OK;
    }
    KRVN::unique_hkey key;
    const HRESULT opened = OpenForValues(key);
    if (opened == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) {
        return S_OK;
    }
    KRVN_RETURN_IF_FAILED(opened);
    for (const PriorValue& value : prior) {
        const wchar_t* name = value.name.c_str();
        const HRESULT hr = value.number ? SetDword(key.get(), name, *value.number)
                           : value.text ? SetText(key.get(), name, *value.text)
                                        : Delete(key.get(), name);
        KRVN_RETURN_IF_FAILED(hr);
    }
    return S_OK;
}
