#pragma once
// The module of the Tolvane program: one executable that is a Windows service
// and, at the same time, the local COM server of QNAlarm, QNServer and
// QNServers. It installs and removes itself (the switches RegServer,
// UnregServer and Service; AutoStart sets the installed service to start at
// boot and restart after a failure; InstallSettings and RestoreSettings write
// and put back the settings given to the package), runs under the service
// manager when its AppID names a local service and as a plain local server
// otherwise, and starts the alarm manager before any client can reach a
// class object.
// COM's handling of faults in methods is off, so a fault ends the process
// and the service manager restarts it.

#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "com/class_objects.h"
#include "com/registrar.h"
#include "service/alarm_manager.h"
#include "service/command_line.h"
#include "service/event_log.h"
#include "service/process_failure_outputs.h"
#include "service/service_installer.h"
#include "service/service_status.h"
#include "service/shutdown_monitor.h"

class CTolvaneModule {
public:
    // String resource with the service's name (also its display name and
    // event source), and the room it is read into.
    static constexpr UINT kServiceNameId = 100;
    static constexpr int kServiceNameSize = 256;
    // A plain local server ends this long after its last object and lock are
    // gone, and pauses once more after revoking its class objects.
    static constexpr DWORD kShutdownWaitMs = 5000;
    static constexpr DWORD kPauseMs = 1000;
    // How long the service manager is told a start, or a stop once the
    // desktop program has gone, may take before the next report.
    static constexpr DWORD kStartWaitHintMs = 10000;
    static constexpr DWORD kStopWaitHintMs = 10000;
    // A stop waits this long at most for alarm passes under way (their
    // bound and some slack), reporting its progress at this pace.
    static constexpr DWORD kFinishPassesMs = AlarmManager::kAlarmPassBoundMs + 5000;
    static constexpr DWORD kStopProgressMs = 1000;

    // There is one module per process: the service manager's callbacks find it.
    CTolvaneModule();
    ~CTolvaneModule();
    CTolvaneModule(const CTolvaneModule&) = delete;
    CTolvaneModule& operator=(const CTolvaneModule&) = delete;

    // Carries out the switches among arguments (the tokens after the program
    // name) or runs; returns the first failing HRESULT, else 0, or the run's
    // result.
    HRESULT WinMain(const std::vector<std::wstring>& arguments);

private:
    // The registration switches.
    HRESULT Register(HostAction action);
    // The switch "Service": all of it, or what "UnregServer" leaves.
    HRESULT RegisterAsService();
    // Writes the AppID entries and, for a service, the LocalService value,
    // the installation (with the boot settings kept from the service it
    // replaces) and the event source.
    HRESULT RegisterAppId(bool asService, const BootSettings& kept);
    HRESULT UnregisterAppId();
    HRESULT RegisterServer();

    // Under the service manager or in this process, as the AppID says.
    HRESULT Start();
    // The start hook, the message loop and the class objects' revocation.
    HRESULT Run();
    HRESULT PreMessageLoop();
    HRESULT StartAlarmManager();
    HRESULT RegisterClassObjects();
    HRESULT PostMessageLoop();
    HRESULT WatchForShutdown();

    void ServiceMain();
    void Handler(DWORD control);
    void OnStop();
    // The stop's work, on the service thread after its loop: the manager's
    // Shutdown (port watcher, desktop program), then the passes under way
    // and their events.
    void Stopping();

    // A worker that could not stop impersonating: the event log hears of
    // it before the process ends (connections/impersonation_end.h).
    static void ImpersonationNotEnded(DWORD error);
    static void WINAPI ServiceMainEntry(DWORD argc, LPWSTR* argv);
    static void WINAPI HandlerEntry(DWORD control);

    const std::wstring m_serviceName;
    EventLog m_log;
    ProcessFailureOutputs m_failureOutputs;
    ServiceInstaller m_installer;
    KRVN::com::Registrar m_registrar;
    KRVN::com::ClassObjects m_classObjects;
    std::unique_ptr<ShutdownMonitor> m_shutdownMonitor;
    bool m_isService = true;
    // The thread that runs the message loop; the stop hook posts its quit there.
    std::atomic<DWORD> m_loopThreadId{0};
    ServiceStatus m_status;
    // The run's result under the service manager, the program's exit code.
    std::atomic<HRESULT> m_serviceResult{S_OK};
};
