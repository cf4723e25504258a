#include "service/calling_process.h"

#include <windows.h>
#include <rpc.h>
#include <rpcdcep.h>

KRVN::unique_handle CallingProcess() {
    unsigned long processId = 0;
    // Null: the binding of the call this thread serves.
    if (::I_RpcBindingInqLocalClientPID(nullptr, &processId) != RPC_S_OK || processId == 0 ||
        processId == ::GetCurrentProcessId()) {
        return KRVN::unique_handle();
    }
    return KRVN::unique_handle(::OpenProcess(SYNCHRONIZE, FALSE, processId));
}
