#include "service/configuration_policy.h"

#include <objbase.h>

#include <atomic>

#include "com/com_ptr.h"
#include "common/unique_handle.h"
#include "config/registry_store.h"

namespace {

std::atomic<CallerSource> g_callerSource{&CurrentCaller};

bool IsMember(HANDLE token, WELL_KNOWN_SID_TYPE type) {
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof sid;
    BOOL member = FALSE;
    return ::CreateWellKnownSid(type, nullptr, sid, &size) &&
           ::CheckTokenMembership(token, sid, &member) && member;
}

} // namespace

bool MayConfigure(const CallerIdentity& caller, bool adminOnly) noexcept {
    return !adminOnly || caller.inProcess || caller.system || caller.administrator;
}

CallerIdentity CurrentCaller() {
    CallerIdentity caller;
    KRVN::com_ptr<IServerSecurity> security;
    if (FAILED(::CoGetCallContext(IID_IServerSecurity, reinterpret_cast<void**>(security.put())))) {
        caller.inProcess = true;
        return caller;
    }
    // A caller that cannot be identified is nobody in particular.
    if (FAILED(security->ImpersonateClient())) {
        return caller;
    }
    KRVN::unique_handle token;
    const BOOL opened = ::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, token.put());
    security->RevertToSelf();
    if (opened) {
        caller.system = IsMember(token.get(), WinLocalSystemSid);
        caller.administrator = IsMember(token.get(), WinBuiltinAdministratorsSid);
    }
    return caller;
}

void SetCallerSource(CallerSource source) noexcept {
    g_callerSource = source ? source : &CurrentCaller;
}

bool CallerMayConfigure() {
    return MayConfigure(g_callerSource.load()(), KRVN::LoadAdminOnly());
}
