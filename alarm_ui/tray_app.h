#pragma once
// The application object: the message-loop registry of the module and the
// two service objects every window of the program works through.

#include <objbase.h>

#include <functional>
#include <string>

#include "alarm_ui/policy_port.h"
#include "alarm_ui/serial_port_api.h"
#include "com/com_ptr.h"
#include "contract/TolvaneLib.h"
#include "window/app_module.h"

class ElevatedRestart;

class CTrayApp : public KRVN::CAppModule {
public:
    CTrayApp() = default;
    // Releases IQNServers, then IQNAlarm.
    ~CTrayApp();

    // Creates QNAlarm and QNServers in the service's process (a test host may
    // serve them from its own class objects) and initialises the module. On
    // failure the user has been told and the program ends with -1.
    bool Init();

    // The service objects, each handed out with a reference of its own.
    KRVN::com_ptr<IQNAlarm> Alarm() const { return m_alarm; }
    KRVN::com_ptr<IQNServers> Servers() const { return m_servers; }

    HINSTANCE ResourceInstance() const;

    // The serial-port calls the button test makes (the system's unless a
    // test host puts its own port behind them).
    const SerialPortApi& SerialPorts() const noexcept { return *m_serialPorts; }
    void SetSerialPorts(const SerialPortApi& api) noexcept { m_serialPorts = &api; }

    // The red-button port an organisation's policy sets, empty when none
    // does: read anew at each call, as a policy may change while the program
    // runs (the machine's policy key unless a test host gives its own).
    std::wstring PolicyPort() const { return m_policyPort(); }
    void SetPolicyPort(std::function<std::wstring()> read) { m_policyPort = std::move(read); }

    // The elevated restart an administrator with a filtered token is
    // offered where the service refuses a change; none without one (a test
    // host may give its own).
    ElevatedRestart* Elevation() const noexcept { return m_elevation; }
    void SetElevation(ElevatedRestart* restart) noexcept { m_elevation = restart; }

private:
    KRVN::com_ptr<IQNAlarm> m_alarm;
    KRVN::com_ptr<IQNServers> m_servers;
    const SerialPortApi* m_serialPorts = &SerialPortApi::System();
    std::function<std::wstring()> m_policyPort = [] { return MachinePolicyPort(); };
    ElevatedRestart* m_elevation = nullptr;
};
