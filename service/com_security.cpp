#include "service/com_security.h"

#include <sddl.h>

#include <memory>

#include "common/ca_exception.h"
#include "contract/registration.h"

HRESULT InitializeComSecurity(InitializeSecurityCall call) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            KRVN::contract::kAppId.permissions, SDDL_REVISION_1, &descriptor, nullptr)) {
        return KRVN::HResultFromStatus(static_cast<std::int32_t>(::GetLastError()));
    }
    const std::unique_ptr<void, decltype(&::LocalFree)> owner(descriptor, &::LocalFree);
    return call(descriptor, -1, nullptr, nullptr, kAuthenticationLevel, kImpersonationLevel,
                nullptr, kCapabilities, nullptr);
}
