#include "config/alarm_key_security.h"

#include <sddl.h>

#include "common/ca_exception.h"
#include "common/unique_handle.h"
#include "config/registry_store.h"

namespace KRVN {

unique_security_descriptor AlarmKeySecurity() {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kAlarmKeySddl, SDDL_REVISION_1,
                                                                &descriptor, nullptr)) {
        return {};
    }
    return unique_security_descriptor(descriptor);
}

HRESULT ProtectAlarmKey() {
    const unique_security_descriptor descriptor = AlarmKeySecurity();
    if (!descriptor) {
        return HResultFromStatus(static_cast<std::int32_t>(::GetLastError()));
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
    return HResultFromStatus(static_cast<std::int32_t>(status));
}

} // namespace KRVN
