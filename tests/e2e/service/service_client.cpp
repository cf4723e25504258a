#include "tests/e2e/service/service_client.h"

#include <objbase.h>

#include "com/bstr.h"
#include "com/result.h"
#include "com/variant.h"
#include "tests/support/wait.h"

namespace krvn_e2e {

namespace {

template <typename I> HRESULT CreateInService(const CLSID& clsid, KRVN::com_ptr<I>& object) {
    return ::CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, __uuidof(I), object.put_void());
}

std::wstring Text(const KRVN::unique_bstr& text) {
    return text ? std::wstring(text.get()) : std::wstring();
}

// A server object handed back in a VARIANT, read whole; an empty address when
// it is not one.
ServerSettings Settings(const VARIANT& item) {
    ServerSettings settings;
    if (V_VT(&item) != VT_DISPATCH || !V_DISPATCH(&item)) {
        return settings;
    }
    KRVN::com_ptr<IDispatch> object(V_DISPATCH(&item));
    const auto server = object.try_query<IQNServer>();
    if (!server) {
        return settings;
    }
    KRVN::unique_bstr address;
    KRVN::unique_bstr password;
    server->get_Address(address.put());
    server->get_Password(password.put());
    server->get_Port(&settings.port);
    settings.address = Text(address);
    settings.password = Text(password);
    return settings;
}

} // namespace

HRESULT ServiceClient::Connect() {
    KRVN_RETURN_IF_FAILED(CreateInService(CLSID_QNServers, m_servers));
    KRVN_RETURN_IF_FAILED(CreateInService(CLSID_QNAlarm, m_alarm));
    m_communications = m_alarm.try_query<IEstablishCommunications>();
    return m_communications ? S_OK : E_NOINTERFACE;
}

void ServiceClient::Disconnect() {
    m_communications.reset();
    m_alarm.reset();
    m_servers.reset();
}

KRVN::com_ptr<IQNServer> ServiceClient::NewServer(const ServerSettings& settings) const {
    KRVN::com_ptr<IQNServer> server;
    if (FAILED(CreateInService(CLSID_QNServer, server))) {
        return server;
    }
    const KRVN::unique_bstr address(settings.address.c_str());
    const KRVN::unique_bstr password(settings.password.c_str());
    server->put_Address(address.get());
    server->put_Password(password.get());
    server->put_Port(settings.port);
    return server;
}

HRESULT ServiceClient::Add(const ServerSettings& settings) const {
    const auto server = NewServer(settings);
    return server ? m_servers->Add(server.get()) : E_FAIL;
}

HRESULT ServiceClient::TryConnect(const ServerSettings& settings) const {
    const auto server = NewServer(settings);
    return server ? m_servers->TryConnect(server.get()) : E_FAIL;
}

LONG ServiceClient::Count() const {
    LONG count = -1;
    m_servers->get_Count(&count);
    return count;
}

HRESULT ServiceClient::Remove(const std::wstring& address) const {
    const KRVN::unique_bstr text(address.c_str());
    return m_servers->Remove(text.get());
}

ServerSettings ServiceClient::Item(LONG index) const {
    VARIANT position;
    ::VariantInit(&position);
    V_VT(&position) = VT_I4;
    V_I4(&position) = index;
    KRVN::unique_variant item;
    return m_servers->Item(position, item.put()) == S_OK ? Settings(item.get()) : ServerSettings{};
}

ServerSettings ServiceClient::Find(const std::wstring& address) const {
    KRVN::unique_bstr text(address.c_str());
    VARIANT key;
    ::VariantInit(&key);
    V_VT(&key) = VT_BSTR;
    V_BSTR(&key) = text.get();
    KRVN::unique_variant item;
    return m_servers->Item(key, item.put()) == S_OK ? Settings(item.get()) : ServerSettings{};
}

HRESULT ServiceClient::Enumerate(std::vector<ServerSettings>& servers) const {
    servers.clear();
    KRVN::com_ptr<IUnknown> unknown;
    KRVN_RETURN_IF_FAILED(m_servers->get__NewEnum(unknown.put()));
    const auto enumerator = unknown.try_query<IEnumVARIANT>();
    if (!enumerator) {
        return E_NOINTERFACE;
    }
    for (;;) {
        KRVN::unique_variant item;
        ULONG fetched = 0;
        const HRESULT hr = enumerator->Next(1, item.put(), &fetched);
        if (FAILED(hr)) {
            return hr;
        }
        if (fetched == 0) {
            return S_OK;
        }
        servers.push_back(Settings(item.get()));
    }
}

LONG ServiceClient::State() const {
    eConnectState state = UnknownState;
    m_servers->get_State(&state);
    return state;
}

bool ServiceClient::WaitForState(LONG state, DWORD timeoutMs) const {
    return krvn_test::WaitUntil([&] { return State() == state; }, timeoutMs, 50);
}

std::wstring ServiceClient::ComPort() const {
    KRVN::unique_bstr name;
    m_alarm->get_ComPort(name.put());
    return Text(name);
}

HRESULT ServiceClient::SetComPort(const std::wstring& name) const {
    const KRVN::unique_bstr text(name.c_str());
    return m_alarm->put_ComPort(text.get());
}

} // namespace krvn_e2e
