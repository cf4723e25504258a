#pragma once
// Small classes built on the layer with interfaces of the contract; they
// exercise the layer, not the product's classes.

#include "com/bstr.h"
#include "com/class_factory.h"
#include "com/com_ptr.h"
#include "com/dispatch_impl.h"
#include "com/interface_map.h"
#include "com/support_error_info.h"
#include "contract/TolvaneLib.h"

#include <mutex>

namespace krvn_test {

using namespace KRVN::com;

// A property holder that may be aggregated.
class TestServer : public DispatchImpl<IQNServer> {
public:
    static constexpr Aggregation kAggregation = Aggregation::Allowed;
    using Interfaces = InterfaceMap<Entry<IQNServer>, Entry<IDispatch, IQNServer>>;

    HRESULT STDMETHODCALLTYPE get_Address(BSTR* value) override { return Get(m_address, value); }
    HRESULT STDMETHODCALLTYPE put_Address(BSTR value) override { return Put(m_address, value); }
    HRESULT STDMETHODCALLTYPE get_Password(BSTR* value) override { return Get(m_password, value); }
    HRESULT STDMETHODCALLTYPE put_Password(BSTR value) override { return Put(m_password, value); }
    HRESULT STDMETHODCALLTYPE get_Port(ULONG* value) override { return Get(m_port, value); }
    HRESULT STDMETHODCALLTYPE put_Port(ULONG value) override { return Put(m_port, value); }
    HRESULT STDMETHODCALLTYPE SendAlarm() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_StateCode(LONG* value) override { return Get(m_state, value); }
    HRESULT STDMETHODCALLTYPE put_StateCode(LONG value) override { return Put(m_state, value); }

private:
    HRESULT Get(const KRVN::unique_bstr& field, BSTR* value) {
        std::lock_guard<std::mutex> guard(m_lock);
        return field.copy_to(value);
    }
    HRESULT Put(KRVN::unique_bstr& field, BSTR value) {
        try {
            KRVN::unique_bstr copy(value);
            std::lock_guard<std::mutex> guard(m_lock);
            field = std::move(copy);
            return S_OK;
        }
        KRVN_CATCH_RETURN()
    }
    template <typename T> HRESULT Get(const T& field, T* value) {
        if (!value) {
            return E_POINTER;
        }
        std::lock_guard<std::mutex> guard(m_lock);
        *value = field;
        return S_OK;
    }
    template <typename T> HRESULT Put(T& field, T value) {
        std::lock_guard<std::mutex> guard(m_lock);
        field = value;
        return S_OK;
    }

    std::mutex m_lock;
    KRVN::unique_bstr m_address;
    KRVN::unique_bstr m_password;
    ULONG m_port = 0;
    LONG m_state = -1;
};

// Several interfaces, error information on one of them, no aggregation.
class TestAlarm : public DispatchImpl<IQNAlarm>,
                  public SupportErrorInfoImpl<IQNAlarm>,
                  public IEstablishCommunications {
public:
    static constexpr Aggregation kAggregation = Aggregation::Refused;
    using Interfaces = InterfaceMap<Entry<IQNAlarm>, Entry<IDispatch, IQNAlarm>,
                                    Entry<ISupportErrorInfo>, Entry<IEstablishCommunications>>;

    HRESULT STDMETHODCALLTYPE get_ComPort(BSTR* value) override {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_port.copy_to(value);
    }
    HRESULT STDMETHODCALLTYPE put_ComPort(BSTR value) override {
        try {
            KRVN::unique_bstr copy(value);
            std::lock_guard<std::mutex> guard(m_lock);
            m_port = std::move(copy);
            return S_OK;
        }
        KRVN_CATCH_RETURN()
    }
    HRESULT STDMETHODCALLTYPE Advise(IRedButtonEvents* sink) override {
        std::lock_guard<std::mutex> guard(m_lock);
        m_sink = KRVN::com_ptr<IRedButtonEvents>(sink);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Unadvise() override { return Advise(nullptr); }
    HRESULT STDMETHODCALLTYPE AdviseChangeIcon(IChangeIconEvents*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnadviseChangeIcon() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetSendRedButtonCallback(LONG) override { return E_NOTIMPL; }

private:
    std::mutex m_lock;
    KRVN::unique_bstr m_port;
    KRVN::com_ptr<IRedButtonEvents> m_sink;
};

} // namespace krvn_test
