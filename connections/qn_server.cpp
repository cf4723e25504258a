#include "connections/qn_server.h"

#include <cwchar>
#include <utility>

#include "com/result.h"
#include "connections/configuration_gate.h"
#include "connections/cross_process_call.h"
#include "connections/secret_text.h"
#include "connections/server_address_rule.h"
#include "connections/server_alarm_route.h"

HRESULT QNServer::get_Address(BSTR* value) {
    return GetString(m_address, value);
}

HRESULT QNServer::put_Address(BSTR value) {
    if (!MayChange()) {
        return E_ACCESSDENIED;
    }
    // A client's address, or the copy Add and TryConnect make of it, must
    // keep the rule; what the service loads from its stored list is taken
    // as it was stored, so an upgrade loses no listed server.
    if (IsCrossProcessCall() && !IsAllowedServerAddress(value, ::SysStringLen(value))) {
        return E_INVALIDARG;
    }
    return PutString(m_address, value, m_listed.load());
}

HRESULT QNServer::get_Password(BSTR* value) {
    if (value && !ConfigurationAllowed()) {
        // Callers the service keeps from the configuration see no password.
        *value = ::SysAllocString(L"");
        return *value ? S_OK : E_OUTOFMEMORY;
    }
    return GetString(m_password, value);
}

HRESULT QNServer::put_Password(BSTR value) {
    if (!MayChange()) {
        return E_ACCESSDENIED;
    }
    return PutString(m_password, value, false);
}

HRESULT QNServer::get_Port(ULONG* value) {
    if (!value) {
        return E_POINTER;
    }
    *value = m_port.load();
    return S_OK;
}

HRESULT QNServer::put_Port(ULONG value) {
    if (!MayChange()) {
        return E_ACCESSDENIED;
    }
    m_port.store(value);
    return S_OK;
}

HRESULT QNServer::get_StateCode(LONG* value) {
    if (!value) {
        return E_POINTER;
    }
    *value = m_stateCode.load();
    return S_OK;
}

HRESULT QNServer::put_StateCode(LONG value) {
    // A listed server's state is what the service found: only its own code
    // writes it, never a client.
    if (m_listed.load() && IsCrossProcessCall()) {
        return E_ACCESSDENIED;
    }
    m_stateCode.store(value);
    return S_OK;
}

HRESULT QNServer::SendAlarm() {
    // The order goes to the listed entry with this address, not through this object.
    try {
        KRVN::unique_bstr address;
        KRVN_RETURN_IF_FAILED(get_Address(address.put()));
        return RouteServerAlarm(address ? address.get() : L"");
    }
    KRVN_CATCH_RETURN()
}

QNServer::~QNServer() {
    WipeBstr(m_password.get());
}

bool QNServer::MayChange() const {
    return !m_listed.load() || ConfigurationAllowed();
}

void QNServer::SetListed(bool listed) noexcept {
    m_listed.store(listed);
}

HRESULT QNServer::GetString(const KRVN::unique_bstr& slot, BSTR* value) {
    std::lock_guard<std::mutex> hold(m_stringLock);
    return slot.copy_to(value);
}

HRESULT QNServer::PutString(KRVN::unique_bstr& slot, BSTR value, bool fixed) {
    if (KRVN::HasEmbeddedZero(value)) {
        return E_INVALIDARG;
    }
    try {
        std::lock_guard<std::mutex> hold(m_stringLock);
        if (value == slot.get()) {
            return S_OK;
        }
        if (fixed) {
            // The entry's key and the saved list keep this text; a null
            // reads as empty there too.
            const bool same = std::wcscmp(slot ? slot.get() : L"", value ? value : L"") == 0;
            return same ? S_OK : kAddressOfListedServer;
        }
        KRVN::unique_bstr replacement(value);
        // Whatever the slot held may have been a password.
        WipeBstr(slot.get());
        slot = std::move(replacement);
        return S_OK;
    }
    KRVN_CATCH_RETURN()
}
