#include "service/configuration_policy.h"

#include <objbase.h>

#include <atomic>

#include "com/com_ptr.h"
#include "common/unique_handle.h"
#include "config/registry_store.h"
#include "service/calling_process.h"
#include "service/settings_policy.h"

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
    KRVN::unique_handle token;
    KRVN::com_ptr<IServerSecurity> security;
    if (SUCCEEDED(
            ::CoGetCallContext(IID_IServerSecurity, reinterpret_cast<void**>(security.put())))) {
        // A caller that cannot be identified is nobody in particular.
        if (FAILED(security->ImpersonateClient())) {
            return caller;
        }
        ::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, token.put());
        security->RevertToSelf();
    } else if (const DWORD processId = CallingProcessId()) {
        // A local client whose call the runtime tells no security of (Wine):
        // its process's token stands for it.
        const KRVN::unique_handle process(
            ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
        KRVN::unique_handle primary;
        if (!process ||
            !::OpenProcessToken(process.get(), TOKEN_QUERY | TOKEN_DUPLICATE, primary.put()) ||
            !::DuplicateToken(primary.get(), SecurityIdentification, token.put())) {
            return caller;
        }
    } else {
        caller.inProcess = true;
        return caller;
    }
    if (token) {
        caller.system = IsMember(token.get(), WinLocalSystemSid);
        caller.administrator = IsMember(token.get(), WinBuiltinAdministratorsSid);
    }
    return caller;
}

void SetCallerSource(CallerSource source) noexcept {
    g_callerSource = source ? source : &CurrentCaller;
}

bool AdminOnlyInEffect() {
    const auto policy = AdminOnlyPolicy();
    return policy.state == KRVN::PolicyState::Set ? policy.value != 0 : KRVN::LoadAdminOnly();
}

bool CallerMayConfigure() {
    return MayConfigure(g_callerSource.load()(), AdminOnlyInEffect());
}
