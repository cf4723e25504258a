#pragma once
// Owners of RPC runtime resources whose release, like every call into the
// runtime made by the RPC transport, runs under the exception guard.

#include <windows.h>
#include <rpc.h>

#include "common/unique_handle.h"
#include "connections/rpc_guard.h"

struct GuardedRpcBindingTraits {
    using type = RPC_BINDING_HANDLE;
    static type invalid() noexcept { return nullptr; }
    static void close(type value) noexcept {
        KrvnRunGuarded(
            [](void* binding) { ::RpcBindingFree(static_cast<RPC_BINDING_HANDLE*>(binding)); },
            &value);
    }
};

struct GuardedRpcStringTraits {
    using type = RPC_WSTR;
    static type invalid() noexcept { return nullptr; }
    static void close(type value) noexcept {
        KrvnRunGuarded([](void* text) { ::RpcStringFreeW(static_cast<RPC_WSTR*>(text)); }, &value);
    }
};

// A client context handle dropped without telling the server: only the
// client's side of it is freed.
struct GuardedClientContextTraits {
    using type = void*;
    static type invalid() noexcept { return nullptr; }
    static void close(type value) noexcept {
        KrvnRunGuarded(
            [](void* context) { ::RpcSsDestroyClientContext(static_cast<void**>(context)); },
            &value);
    }
};

using guarded_rpc_binding = KRVN::unique_any<GuardedRpcBindingTraits>;
using guarded_rpc_string = KRVN::unique_any<GuardedRpcStringTraits>;
using guarded_client_context = KRVN::unique_any<GuardedClientContextTraits>;
