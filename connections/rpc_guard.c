// Compiled by clang (-fms-extensions) for its __try/__except; linked with g++.
#include <windows.h>

#include "connections/rpc_guard.h"

// Declared here: not every SDK header set declares it.
int __stdcall RpcExceptionFilter(unsigned long code);

// The code is taken here rather than in the handler body, where Wine reports 0.
static int RecordAndFilter(unsigned long code, volatile unsigned long* recorded) {
    *recorded = code;
    return RpcExceptionFilter(code);
}

unsigned long KrvnRunGuarded(KrvnGuardedCall call, void* context) {
    volatile unsigned long code = 0;
    __try {
        call(context);
    } __except (RecordAndFilter(GetExceptionCode(), &code)) {
    }
    return code;
}
