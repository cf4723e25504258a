#pragma once
// The QNServer COM object: the description of one disk server (address,
// password, port, state code of the last probe). Free threaded: clients,
// the connection checker and alarm threads read and write its properties at
// the same time; strings are copied in and out under a small lock, so no
// reader ever sees a freed string. It may be aggregated.

#include <windows.h>

#include <atomic>
#include <mutex>

#include "com/bstr.h"
#include "com/class_factory.h"
#include "com/dispatch_impl.h"
#include "com/interface_map.h"
#include "contract/TolvaneLib.h"

class QNServer : public KRVN::com::DispatchImpl<IQNServer> {
public:
    using Interfaces = KRVN::com::InterfaceMap<KRVN::com::Entry<IQNServer>,
                                               KRVN::com::Entry<IDispatch, IQNServer>>;
    static constexpr KRVN::com::Aggregation kAggregation = KRVN::com::Aggregation::Allowed;

    // Strings: a copy of what is stored (null when unset). A put stores a
    // copy up to the first zero character; null clears; putting back the
    // stored string itself changes nothing.
    HRESULT STDMETHODCALLTYPE get_Address(BSTR* value) override;
    HRESULT STDMETHODCALLTYPE put_Address(BSTR value) override;
    HRESULT STDMETHODCALLTYPE get_Password(BSTR* value) override;
    HRESULT STDMETHODCALLTYPE put_Password(BSTR value) override;
    // Numbers are stored as given, without a range check.
    HRESULT STDMETHODCALLTYPE get_Port(ULONG* value) override;
    HRESULT STDMETHODCALLTYPE put_Port(ULONG value) override;
    HRESULT STDMETHODCALLTYPE get_StateCode(LONG* value) override;
    HRESULT STDMETHODCALLTYPE put_StateCode(LONG value) override;
    HRESULT STDMETHODCALLTYPE SendAlarm() override;

protected:
    QNServer() = default;
    ~QNServer() = default;

private:
    HRESULT GetString(const KRVN::unique_bstr& slot, BSTR* value);
    HRESULT PutString(KRVN::unique_bstr& slot, BSTR value);

    std::mutex m_stringLock;
    KRVN::unique_bstr m_address;
    KRVN::unique_bstr m_password;
    std::atomic<ULONG> m_port{0};
    std::atomic<LONG> m_stateCode{-1};
};
