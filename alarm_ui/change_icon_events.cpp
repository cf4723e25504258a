#include "alarm_ui/change_icon_events.h"

#include <string>

#include "alarm_ui/shell_icon.h"

ChangeIconEvents& ChangeIconEvents::Instance() {
    static ChangeIconEvents events;
    return events;
}

void ChangeIconEvents::Publish(ShellIcon* icon) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_icon = icon;
}

void ChangeIconEvents::Withdraw(ShellIcon* icon) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_icon == icon) {
        m_icon = nullptr;
    }
}

HRESULT STDMETHODCALLTYPE ChangeIconEvents::ChangeIcon(eConnectState state, BSTR addresses) {
    // A report that cannot be queued (no memory) is lost; the next one
    // carries the state again.
    try {
        std::wstring text(addresses ? addresses : L"", ::SysStringLen(addresses));
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_icon) {
            m_icon->PostStateChange(state, std::move(text));
        }
    } catch (...) {
    }
    return S_OK;
}
