#include "connections/qn_server.h"

#include "com/result.h"
#include "connections/server_alarm_route.h"

HRESULT QNServer::get_Address(BSTR* value) {
    return GetString(m_address, value);
}

HRESULT QNServer::put_Address(BSTR value) {
    return PutString(m_address, value);
}

HRESULT QNServer::get_Password(BSTR* value) {
    return GetString(m_password, value);
}

HRESULT QNServer::put_Password(BSTR value) {
    return PutString(m_password, value);
}

HRESULT QNServer::get_Port(ULONG* value) {
    if (!value) {
        return E_POINTER;
    }
    *value = m_port.load();
    return S_OK;
}

HRESULT QNServer::put_Port(ULONG value) {
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

HRESULT QNServer::GetString(const KRVN::unique_bstr& slot, BSTR* value) {
    std::lock_guard<std::mutex> hold(m_stringLock);
    return slot.copy_to(value);
}

HRESULT QNServer::PutString(KRVN::unique_bstr& slot, BSTR value) {
    try {
        std::lock_guard<std::mutex> hold(m_stringLock);
        if (value != slot.get()) {
            slot = KRVN::unique_bstr(value);
        }
        return S_OK;
    }
    KRVN_CATCH_RETURN()
}
