#pragma once
// Runs calls into the RPC runtime, which reports communication failures by
// raising structured exceptions that C++ cannot catch. The guard lives in
// rpc_guard.c, built with a compiler that understands __try/__except.
//
// A guarded call must not own objects with destructors: an exception unwinds
// through it without running them.

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*KrvnGuardedCall)(void* context);

// Runs call(context); returns 0 when it returned normally, else the code of
// the exception that RpcExceptionFilter let the guard handle.
unsigned long KrvnRunGuarded(KrvnGuardedCall call, void* context);

#ifdef __cplusplus
}
#endif
