#include "alarm_ui/callback_security.h"

#include "alarm_ui/process_user_sid.h"
#include "com/absolute_security_descriptor.h"
#include "com/result.h"

std::wstring CallbackAccessSddl(const std::wstring& userSid) {
    // CC and DC: COM_RIGHTS_EXECUTE and COM_RIGHTS_EXECUTE_LOCAL.
    return L"O:" + userSid + L"G:" + userSid + L"D:(A;;CCDC;;;SY)(A;;CCDC;;;" + userSid + L")";
}

HRESULT InitializeCallbackSecurity(InitializeSecurityCall call) {
    std::wstring user;
    KRVN_RETURN_IF_FAILED(ProcessUserSid(user));
    KRVN::com::AbsoluteSecurityDescriptor descriptor;
    KRVN_RETURN_IF_FAILED(descriptor.Init(CallbackAccessSddl(user).c_str()));
    return call(descriptor.get(), -1, nullptr, nullptr, kCallbackAuthenticationLevel,
                kCallbackImpersonationLevel, nullptr, kCallbackCapabilities, nullptr);
}
