#include "alarm_ui/change_icon_events.h"

#include <string>

#include "alarm_ui/shell_icon.h"
#include "common/sync_guard.h"

ChangeIconEvents& ChangeIconEvents::Instance() {
    static ChangeIconEvents events;
    return events;
}

void ChangeIconEvents::Publish(ShellIcon* icon) {
    KRVN::CSyncGuard guard(&m_lock);
    m_icon = icon;
}

void ChangeIconEvents::Withdraw(ShellIcon* icon) {
    KRVN::CSyncGuard guard(&m_lock);
    if (m_icon == icon) {
        m_icon = nullptr;
    }
}

HRESULT STDMETHODCALLTYPE ChangeIconEvents::QueryInterface(REFIID iid, void** result) {
    if (!result) {
        return E_POINTER;
    }
    if (::IsEqualIID(iid, IID_IUnknown) || ::IsEqualIID(iid, IID_IChangeIconEvents)) {
        *result = static_cast<IChangeIconEvents*>(this);
        return S_OK;
    }
    *result = nullptr;
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE ChangeIconEvents::ChangeIcon(eConnectState state, BSTR addresses) {
    // A report that cannot be queued (no memory) is lost; the next one
    // carries the state again.
    try {
        std::wstring text(addresses ? addresses : L"", ::SysStringLen(addresses));
        KRVN::CSyncGuard guard(&m_lock);
        if (m_icon) {
            m_icon->PostStateChange(state, std::move(text));
        }
    } catch (...) {
    }
    return S_OK;
}
