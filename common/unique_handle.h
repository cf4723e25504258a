#pragma once
// Owners of kernel, registry, service-manager and RPC resources: each value is
// born owned and closed exactly once, by the owner that holds it last.

#include <windows.h>
#include <rpc.h>
#include <winsvc.h>

#include <cstdint>
#include <type_traits>
#include <utility>

#include "common/ca_exception.h"

namespace KRVN {

// How one kind of resource is closed, and the value that means "nothing
// owned": 0 unless given (-1 stands for INVALID_HANDLE_VALUE, which is no
// constant expression). Close takes the value, or, like RpcBindingFree and
// RpcStringFreeW, its address.
template <typename T, auto Close, auto Invalid = 0> struct close_with {
    using type = T;

    static type invalid() noexcept {
        if constexpr (std::is_pointer_v<T>) {
            return reinterpret_cast<T>(static_cast<std::intptr_t>(Invalid));
        } else {
            return static_cast<T>(Invalid);
        }
    }

    static void close(type value) noexcept {
        if constexpr (std::is_invocable_v<decltype(Close), type>) {
            Close(value);
        } else {
            Close(&value);
        }
    }
};

// The owner of one resource: Traits names the stored type, the value that
// means "nothing owned" and the close function (close_with makes them).
template <typename Traits> class unique_any {
public:
    using traits = Traits;
    using pointer = typename Traits::type;

    unique_any() noexcept : m_value(Traits::invalid()) {}
    explicit unique_any(pointer value) noexcept : m_value(value) {}
    unique_any(const unique_any&) = delete;
    unique_any& operator=(const unique_any&) = delete;
    unique_any(unique_any&& other) noexcept : m_value(other.release()) {}
    unique_any& operator=(unique_any&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    ~unique_any() { reset(); }

    pointer get() const noexcept { return m_value; }
    explicit operator bool() const noexcept { return m_value != Traits::invalid(); }

    // Closes the current value (if any) and takes ownership of the new one.
    void reset(pointer value = Traits::invalid()) noexcept {
        const pointer old = std::exchange(m_value, value);
        if (old != Traits::invalid()) {
            Traits::close(old);
        }
    }

    // Gives up ownership without closing.
    [[nodiscard]] pointer release() noexcept { return std::exchange(m_value, Traits::invalid()); }

    // For functions that return a new value through an out parameter.
    pointer* put() noexcept {
        reset();
        return &m_value;
    }

private:
    pointer m_value;
};

using unique_handle = unique_any<close_with<HANDLE, ::CloseHandle>>;
using unique_hfile = unique_any<close_with<HANDLE, ::CloseHandle, -1>>;
using unique_hkey = unique_any<close_with<HKEY, ::RegCloseKey>>;
using unique_schandle = unique_any<close_with<SC_HANDLE, ::CloseServiceHandle>>;
using unique_rpc_binding = unique_any<close_with<RPC_BINDING_HANDLE, ::RpcBindingFree>>;
using unique_rpc_wstr = unique_any<close_with<RPC_WSTR, ::RpcStringFreeW>>;
// Memory that the system allocated for the caller (security descriptors).
using unique_hlocal = unique_any<close_with<HLOCAL, ::LocalFree>>;
// Text that the system allocated for the caller (FormatMessageW,
// ConvertSidToStringSidW).
using unique_hlocal_string = unique_any<close_with<wchar_t*, ::LocalFree>>;

// An event handle with the few operations its users need.
class unique_event : public unique_handle {
public:
    using unique_handle::unique_handle;

    // An unnamed event with default security; raises CAException with the
    // Win32 error when the system refuses.
    static unique_event create(bool manualReset = true, bool initiallySet = false) {
        unique_event event(::CreateEventW(nullptr, manualReset, initiallySet, nullptr));
        if (!event) {
            KRVN_RAISE(HResultFromStatus(static_cast<std::int32_t>(::GetLastError())));
        }
        return event;
    }

    void SetEvent() const noexcept { ::SetEvent(get()); }
    void ResetEvent() const noexcept { ::ResetEvent(get()); }
    bool is_signaled() const noexcept { return ::WaitForSingleObject(get(), 0) == WAIT_OBJECT_0; }
};

// Runs a clean-up when the scope ends, unless release() cancelled it.
template <typename F> class scope_exit_t {
public:
    explicit scope_exit_t(F action) noexcept(std::is_nothrow_move_constructible_v<F>)
        : m_action(std::move(action)) {}
    scope_exit_t(const scope_exit_t&) = delete;
    scope_exit_t& operator=(const scope_exit_t&) = delete;
    ~scope_exit_t() {
        if (m_active) {
            m_action();
        }
    }

    void release() noexcept { m_active = false; }

private:
    F m_action;
    bool m_active = true;
};

template <typename F> [[nodiscard]] scope_exit_t<std::decay_t<F>> scope_exit(F&& action) {
    return scope_exit_t<std::decay_t<F>>(std::forward<F>(action));
}

} // namespace KRVN
