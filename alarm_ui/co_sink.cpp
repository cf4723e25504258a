#include "alarm_ui/co_sink.h"

#include "alarm_ui/app_messages.h"

void CCoSink::Bind(HWND dialog) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_dialog = dialog;
}

void CCoSink::Unbind() {
    Bind(nullptr);
}

HRESULT STDMETHODCALLTYPE CCoSink::RedButtonPressed() {
    // Posted, not sent: the main thread may be waiting for this lock while
    // it unbinds, and would never answer a sent message.
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_dialog) {
        ::PostMessageW(m_dialog, kServicePressMessage, 0, 0);
    }
    return S_OK;
}
