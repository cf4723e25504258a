#include "connections/cross_process_call.h"

#include <windows.h>
#include <objbase.h>
#include <rpc.h>
#include <rpcdcep.h>

#include "com/com_ptr.h"

bool IsCrossProcessCall() noexcept {
    // Outside a call (a direct call of our own) there is no context, and
    // COM says so (RPC_E_CALL_COMPLETE). The service's objects live in its
    // multithreaded apartment alone, so every call with a context came
    // through a proxy from elsewhere.
    KRVN::com_ptr<IServerSecurity> security;
    if (SUCCEEDED(::CoGetCallContext(IID_IServerSecurity, security.put_void()))) {
        return true;
    }
    // Null: the binding of the call this thread serves, if any.
    unsigned long processId = 0;
    return ::I_RpcBindingInqLocalClientPID(nullptr, &processId) == RPC_S_OK && processId != 0 &&
           processId != ::GetCurrentProcessId();
}
