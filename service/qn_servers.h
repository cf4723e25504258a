#pragma once
// The QNServers COM object: the clients' view of the alarm manager's server
// list. It lists, adds, removes and test-connects servers, sends the alarm to
// all of them and reads or refreshes the aggregate connection state. It keeps
// nothing of its own; every QNServers object shows the same single list.
//
// Results that come from the transports, from SendAlarmTo and from Item
// (1168: not listed) are handed back unchanged as the HRESULT, so clients
// test these methods for 0.

#include <windows.h>

#include "com/class_factory.h"
#include "com/dispatch_impl.h"
#include "com/interface_map.h"
#include "contract/TolvaneLib.h"

class AlarmManager;

class QNServers : public KRVN::com::DispatchImpl<IQNServers> {
public:
    using Interfaces = KRVN::com::InterfaceMap<KRVN::com::Entry<IQNServers>,
                                               KRVN::com::Entry<IDispatch, IQNServers>>;
    static constexpr KRVN::com::Aggregation kAggregation = KRVN::com::Aggregation::Refused;

    // index, also by reference: a number is a position in list order (a
    // fraction rounded half to even), a string an address (letter case
    // ignored); any other type, or a position outside the list, gives
    // E_INVALIDARG. The item is the listed object itself. On failure item
    // is not touched.
    HRESULT STDMETHODCALLTYPE Item(VARIANT index, VARIANT* item) override;
    HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override;
    // Lists a service-side copy unless the address is listed already, and
    // saves the list. A null object gives E_POINTER, one without IQNServer
    // E_NOINTERFACE; the list is then unchanged.
    HRESULT STDMETHODCALLTYPE Add(IDispatch* server) override;
    // E_INVALIDARG for an address with a zero character before its end.
    HRESULT STDMETHODCALLTYPE Remove(BSTR address) override;
    HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** enumerator) override;
    // 0, or 0xFFFFFFFF when any server did not take the alarm.
    HRESULT STDMETHODCALLTYPE SendAlarm() override;
    // Probes a service-side copy and lists (and saves) it when the probe
    // gives 0; returns the probe's result. Null or foreign objects as Add.
    HRESULT STDMETHODCALLTYPE TryConnect(IDispatch* server) override;
    HRESULT STDMETHODCALLTYPE RefreshState() override;
    HRESULT STDMETHODCALLTYPE get_State(eConnectState* state) override;

protected:
    // COM makes the service's objects on its single manager.
    QNServers();
    explicit QNServers(AlarmManager& manager) noexcept : m_manager(manager) {}
    ~QNServers() = default;

private:
    AlarmManager& m_manager;
};
