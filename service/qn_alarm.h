#pragma once
// The QNAlarm COM object: through it the desktop program reads and sets the
// red-button port and registers its two callbacks (red-button presses while
// it tests the button, the aggregate connection state for its tray icon).
// It keeps nothing of its own: every method forwards to the alarm manager or
// its port watcher, so all QNAlarm objects share one port, one slot of each
// callback and one forward flag; the last Advise wins.

#include <windows.h>

#include "com/class_factory.h"
#include "com/dispatch_impl.h"
#include "com/interface_map.h"
#include "com/support_error_info.h"
#include "contract/TolvaneLib.h"

class AlarmManager;

class QNAlarm : public KRVN::com::DispatchImpl<IQNAlarm>,
                public KRVN::com::SupportErrorInfoImpl<IQNAlarm>,
                public IEstablishCommunications {
public:
    using Interfaces =
        KRVN::com::InterfaceMap<KRVN::com::Entry<IQNAlarm>, KRVN::com::Entry<IDispatch, IQNAlarm>,
                                KRVN::com::Entry<ISupportErrorInfo>,
                                KRVN::com::Entry<IEstablishCommunications>>;
    static constexpr KRVN::com::Aggregation kAggregation = KRVN::com::Aggregation::Refused;

    // The port watched: the organisation's policy's, else the service's own.
    HRESULT STDMETHODCALLTYPE get_ComPort(BSTR* name) override;
    // A null name is taken as the empty one: nothing is watched. A name with
    // a zero character before its end is refused (E_INVALIDARG). While the
    // policy sets the port, a put is refused with E_ACCESSDENIED and the
    // stored name stays.
    HRESULT STDMETHODCALLTYPE put_ComPort(BSTR name) override;

    // A sink begins the caller's red-button test (presses raise no alarm
    // until it ends); null ends the test as Unadvise does. Under the
    // administrators-only setting only callers the service lets change its
    // configuration may store a sink or set the flag (others get
    // E_ACCESSDENIED); anyone may end a test.
    HRESULT STDMETHODCALLTYPE Advise(IRedButtonEvents* sink) override;
    HRESULT STDMETHODCALLTYPE Unadvise() override;
    HRESULT STDMETHODCALLTYPE AdviseChangeIcon(IChangeIconEvents* sink) override;
    HRESULT STDMETHODCALLTYPE UnadviseChangeIcon() override;
    // Presses go to the red-button sink when value is 1, else are ignored
    // while a sink is stored.
    HRESULT STDMETHODCALLTYPE SetSendRedButtonCallback(LONG value) override;

protected:
    // COM makes the service's objects on its single manager.
    QNAlarm();
    explicit QNAlarm(AlarmManager& manager) noexcept : m_manager(manager) {}
    ~QNAlarm() = default;

private:
    AlarmManager& m_manager;
};
