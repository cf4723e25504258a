#pragma once
// Owners of RPC runtime resources whose release, like every call into the
// runtime made by the RPC transport, runs under the exception guard.

#include <windows.h>
#include <rpc.h>

#include "common/unique_handle.h"
#include "connections/rpc_guard.h"

// A binding lets go of its server's association before it is freed, and so
// does the binding a client context handle keeps for its calls. Wine's
// runtime keeps a reference to a binding whose call got no answer (its
// server died meanwhile) for the life of the process; without the reset that
// association, with the group of the dead server, would serve every later
// binding to the address, and a restarted server refuses that group (1727).
// No call runs on a binding being freed, so the reset is allowed; on Windows,
// where freeing a binding releases its hold on the association anyway, it
// changes nothing.
inline void GuardedRpcBindingFree(RPC_BINDING_HANDLE* binding) noexcept {
    KrvnRunGuarded(
        [](void* value) {
            ::RpcBindingReset(*static_cast<RPC_BINDING_HANDLE*>(value));
            ::RpcBindingFree(static_cast<RPC_BINDING_HANDLE*>(value));
        },
        binding);
}

inline void GuardedRpcStringFree(RPC_WSTR* text) noexcept {
    KrvnRunGuarded([](void* value) { ::RpcStringFreeW(static_cast<RPC_WSTR*>(value)); }, text);
}

// A client context handle dropped without telling the server: only the
// client's side of it is freed.
inline void GuardedClientContextDestroy(void** context) noexcept {
    KrvnRunGuarded(
        [](void* value) {
            auto* const handle = static_cast<void**>(value);
            ::RpcBindingReset(::NDRCContextBinding(*handle));
            ::RpcSsDestroyClientContext(handle);
        },
        context);
}

using guarded_rpc_binding =
    KRVN::unique_any<KRVN::close_with<RPC_BINDING_HANDLE, GuardedRpcBindingFree>>;
using guarded_rpc_string = KRVN::unique_any<KRVN::close_with<RPC_WSTR, GuardedRpcStringFree>>;
using guarded_client_context =
    KRVN::unique_any<KRVN::close_with<void*, GuardedClientContextDestroy>>;
