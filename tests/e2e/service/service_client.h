#pragma once
// A C++ client of the running service, as the desktop program is one: the
// QNServers and QNAlarm objects in the service's process, and the service's
// own QNServer objects to describe servers with.

#include <windows.h>

#include <string>
#include <vector>

#include "com/com_ptr.h"
#include "contract/TolvaneLib.h"

namespace krvn_e2e {

struct ServerSettings {
    std::wstring address;
    std::wstring password;
    ULONG port = 0;
};

class ServiceClient {
public:
    // Creates the objects; COM starts the service when it does not run.
    HRESULT Connect();
    void Disconnect();

    IQNServers* Servers() const { return m_servers.get(); }
    IQNAlarm* Alarm() const { return m_alarm.get(); }
    IEstablishCommunications* Communications() const { return m_communications.get(); }

    // A new QNServer in the service's process with these settings.
    KRVN::com_ptr<IQNServer> NewServer(const ServerSettings& settings) const;
    HRESULT Add(const ServerSettings& settings) const;
    HRESULT TryConnect(const ServerSettings& settings) const;

    HRESULT Remove(const std::wstring& address) const;

    LONG Count() const;
    // The listed server at position index, or with this address, read back
    // whole; an empty address when Item fails.
    ServerSettings Item(LONG index) const;
    ServerSettings Find(const std::wstring& address) const;
    // Every listed server through _NewEnum, in the enumerator's order.
    HRESULT Enumerate(std::vector<ServerSettings>& servers) const;
    LONG State() const;
    // Polls State until it equals state.
    bool WaitForState(LONG state, DWORD timeoutMs) const;

    std::wstring ComPort() const;
    HRESULT SetComPort(const std::wstring& name) const;

private:
    KRVN::com_ptr<IQNServers> m_servers;
    KRVN::com_ptr<IQNAlarm> m_alarm;
    KRVN::com_ptr<IEstablishCommunications> m_communications;
};

} // namespace krvn_e2e
