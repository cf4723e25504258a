#include "alarm_ui/co_sink.h"

#include "alarm_ui/app_messages.h"
#include "common/sync_guard.h"

void CCoSink::Bind(HWND dialog) {
    KRVN::CSyncGuard guard(&m_lock);
    m_dialog = dialog;
}

void CCoSink::Unbind() {
    Bind(nullptr);
}

HRESULT STDMETHODCALLTYPE CCoSink::QueryInterface(REFIID iid, void** result) {
    if (!result) {
        return E_POINTER;
    }
    if (::IsEqualIID(iid, IID_IUnknown) || ::IsEqualIID(iid, IID_IRedButtonEvents)) {
        *result = static_cast<IRedButtonEvents*>(this);
        return S_OK;
    }
    *result = nullptr;
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE CCoSink::RedButtonPressed() {
    // Posted, not sent: the main thread may be waiting for this lock while
    // it unbinds, and would never answer a sent message.
    KRVN::CSyncGuard guard(&m_lock);
    if (m_dialog) {
        ::PostMessageW(m_dialog, kServicePressMessage, 0, 0);
    }
    return S_OK;
}
