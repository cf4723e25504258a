#include "connections/connector.h"

#include "com/bstr.h"

namespace {

using StringGetter = HRESULT (STDMETHODCALLTYPE IQNServer::*)(BSTR*);

std::wstring ReadString(const KRVN::com_ptr<IQNServer>& server, StringGetter getter) {
    const auto current = server.try_query<IQNServer>();
    KRVN::unique_bstr value;
    if (!current || FAILED((current.get()->*getter)(value.put()))) {
        return std::wstring();
    }
    return value ? std::wstring(value.get(), value.length()) : std::wstring();
}

} // namespace

Connector::Connector(IQNServer* server) : m_server(server) {}

std::wstring Connector::GetAddress() const {
    return ReadString(m_server, &IQNServer::get_Address);
}

SecretWString Connector::GetPassword() const {
    const auto current = m_server.try_query<IQNServer>();
    SecretBstr value;
    if (!current || FAILED(current->get_Password(value.put()))) {
        return SecretWString();
    }
    return SecretWString(value.get(), ::SysStringLen(value.get()));
}

std::uint32_t Connector::GetPort() const {
    const auto current = m_server.try_query<IQNServer>();
    ULONG port = 0;
    if (!current || FAILED(current->get_Port(&port))) {
        return 0;
    }
    return port;
}
