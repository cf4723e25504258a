#include "service/com_security.h"

#include "com/absolute_security_descriptor.h"
#include "com/result.h"
#include "contract/registration.h"

HRESULT InitializeComSecurity(InitializeSecurityCall call) {
    KRVN::com::AbsoluteSecurityDescriptor descriptor;
    KRVN_RETURN_IF_FAILED(descriptor.Init(KRVN::contract::kAppId.permissions));
    return call(descriptor.get(), -1, nullptr, nullptr, kAuthenticationLevel, kImpersonationLevel,
                nullptr, kCapabilities, nullptr);
}
