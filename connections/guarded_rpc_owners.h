#pragma once
// Owners of RPC runtime resources whose release, like every call into the
// runtime made by the RPC transport, runs under the exception guard.

#include <windows.h>
#include <rpc.h>

#include "common/unique_handle.h"
#include "connections/rpc_guard.h"

inline void GuardedRpcBindingFree(RPC_BINDING_HANDLE* binding) noexcept {
    KrvnRunGuarded([](void* value) { ::RpcBindingFree(static_cast<RPC_BINDING_HANDLE*>(value)); },
                   binding);
}

inline void GuardedRpcStringFree(RPC_WSTR* text) noexcept {
    KrvnRunGuarded([](void* value) { ::RpcStringFreeW(static_cast<RPC_WSTR*>(value)); }, text);
}

// A client context handle dropped without telling the server: only the
// client's side of it is freed.
inline void GuardedClientContextDestroy(void** context) noexcept {
    KrvnRunGuarded([](void* value) { ::RpcSsDestroyClientContext(static_cast<void**>(value)); },
                   context);
}

using guarded_rpc_binding =
    KRVN::unique_any<KRVN::close_with<RPC_BINDING_HANDLE, GuardedRpcBindingFree>>;
using guarded_rpc_string = KRVN::unique_any<KRVN::close_with<RPC_WSTR, GuardedRpcStringFree>>;
using guarded_client_context =
    KRVN::unique_any<KRVN::close_with<void*, GuardedClientContextDestroy>>;
