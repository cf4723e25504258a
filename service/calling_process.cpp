#include "service/calling_process.h"

#include <rpc.h>
#include <rpcdcep.h>

DWORD CallingProcessId() {
    unsigned long processId = 0;
    // Null: the binding of the call this thread serves.
    if (::I_RpcBindingInqLocalClientPID(nullptr, &processId) != RPC_S_OK ||
        processId == ::GetCurrentProcessId()) {
        return 0;
    }
    return processId;
}

KRVN::unique_handle CallingProcess() {
    const DWORD processId = CallingProcessId();
    if (processId == 0) {
        return KRVN::unique_handle();
    }
    return KRVN::unique_handle(::OpenProcess(SYNCHRONIZE, FALSE, processId));
}
