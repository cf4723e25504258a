#include "service/qn_alarm.h"

#include <string>

#include "com/bstr.h"
#include "com/result.h"
#include "service/alarm_manager.h"
#include "service/calling_process.h"
#include "service/client_caller.h"
#include "service/serial_port_name.h"
#include "connections/configuration_gate.h"
#include "service/com_port_waiter.h"
#include "service/event_text.h"

QNAlarm::QNAlarm() : QNAlarm(AlarmManager::Instance()) {}

HRESULT QNAlarm::get_ComPort(BSTR* name) {
    if (!name) {
        return E_POINTER;
    }
    *name = nullptr;
    try {
        *name = KRVN::unique_bstr(m_manager.GetComPort().c_str()).release();
        return S_OK;
    }
    KRVN_CATCH_RETURN()
}

HRESULT QNAlarm::put_ComPort(BSTR name) {
    // Cut at the zero, the name would be another port's, or none.
    if (KRVN::HasEmbeddedZero(name) || !IsSerialPortName(name ? name : L"")) {
        return E_INVALIDARG;
    }
    if (!ConfigurationAllowed()) {
        return E_ACCESSDENIED;
    }
    try {
        const std::wstring before = m_manager.GetComPort();
        const std::wstring after = name ? name : L"";
        const HRESULT result = m_manager.SetComPort(after);
        // Refused (a port the organisation's policy sets): nothing changed.
        if (result != E_ACCESSDENIED && after != before) {
            m_manager.Report(
                {EventType::Information,
                 MSG_PORT_CHANGED,
                 {before.empty() ? L"(none)" : EventText(before),
                  after.empty() ? L"(none)" : EventText(after), DescribeCaller().AccountText()}});
        }
        return result;
    }
    KRVN_CATCH_RETURN()
}

HRESULT QNAlarm::Advise(IRedButtonEvents* sink) {
    if (!sink) {
        return Unadvise();
    }
    // A stored sink keeps presses from raising the alarm.
    if (!ConfigurationAllowed()) {
        return E_ACCESSDENIED;
    }
    try {
        if (const auto watcher = m_manager.PortWatcher()) {
            // The client's process tells, without a call, when the sink is dead.
            watcher->SetRedButtonSink(sink, DescribeCaller(), CallingProcess());
        }
        return S_OK;
    }
    KRVN_CATCH_RETURN()
}

HRESULT QNAlarm::Unadvise() {
    try {
        if (const auto watcher = m_manager.PortWatcher()) {
            watcher->ClearRedButtonSink(DescribeCaller());
        }
        return S_OK;
    }
    KRVN_CATCH_RETURN()
}

HRESULT QNAlarm::AdviseChangeIcon(IChangeIconEvents* sink) {
    m_manager.SetChangeIconSink(sink);
    return S_OK;
}

HRESULT QNAlarm::UnadviseChangeIcon() {
    m_manager.SetChangeIconSink(nullptr);
    return S_OK;
}

HRESULT QNAlarm::SetSendRedButtonCallback(LONG value) {
    if (!ConfigurationAllowed()) {
        return E_ACCESSDENIED;
    }
    if (const auto watcher = m_manager.PortWatcher()) {
        watcher->SetForwardFlag(value);
    }
    return S_OK;
}
