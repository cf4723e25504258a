#include "service/tolvane_module.h"

#include <objbase.h>

#include "com/module.h"
#include "com/result.h"
#include "com/unique_couninitialize.h"
#include "connections/impersonation_end.h"
#include "connections/qn_server.h"
#include "contract/TolvaneLib.h"
#include "service/alarm_manager.h"
#include "service/com_exception_handling.h"
#include "service/com_security.h"
#include "service/install_settings_switch.h"
#include "service/qn_alarm.h"
#include "service/qn_servers.h"
#include "service/service_app_id.h"
#include "service/system_error_text.h"

namespace {

CTolvaneModule* g_module = nullptr;

std::wstring LoadServiceName() {
    wchar_t name[CTolvaneModule::kServiceNameSize] = {};
    ::LoadStringW(::GetModuleHandleW(nullptr), CTolvaneModule::kServiceNameId, name,
                  CTolvaneModule::kServiceNameSize);
    return name;
}

} // namespace

CTolvaneModule::CTolvaneModule()
    : m_serviceName(LoadServiceName()), m_log(m_serviceName), m_failureOutputs(m_log),
      m_installer(m_serviceName, m_failureOutputs) {
    g_module = this;
    SetImpersonationFailureReport(&ImpersonationNotEnded);
}

CTolvaneModule::~CTolvaneModule() {
    SetImpersonationFailureReport(nullptr);
    g_module = nullptr;
}

HRESULT CTolvaneModule::WinMain(const std::vector<std::wstring>& arguments) {
    const HostAction action = ParseHostAction(arguments);
    if (action == HostAction::Run) {
        return Start();
    }
    if (action == HostAction::InstallSettings || action == HostAction::RestoreSettings) {
        const std::vector<std::wstring> data(arguments.begin() + 1, arguments.end());
        return action == HostAction::InstallSettings
                   ? ApplyInstallSettings(data, m_failureOutputs, m_serviceName)
                   : RestoreInstallSettings(data, m_failureOutputs, m_serviceName);
    }
    const KRVN::unique_couninitialize com(COINIT_MULTITHREADED);
    const HRESULT hr = Register(action);
    return FAILED(hr) ? hr : S_OK;
}

HRESULT CTolvaneModule::Register(HostAction action) {
    switch (action) {
    case HostAction::UnregServer:
        KRVN_RETURN_IF_FAILED(m_registrar.UnregisterServer());
        return UnregisterAppId();
    case HostAction::RegServer:
        KRVN_RETURN_IF_FAILED(m_installer.Uninstall());
        KRVN_RETURN_IF_FAILED(RegisterAppId(false, {}));
        return RegisterServer();
    case HostAction::AutoStart:
        return m_installer.ConfigureBootStart();
    default:
        return RegisterAsService();
    }
}

// The service keeps its boot settings across the new installation. Once the
// old one is gone, a failure leaves what -UnregServer leaves: half an
// installation would name a service that is not there, whether or not an
// installer's rollback follows.
HRESULT CTolvaneModule::RegisterAsService() {
    BootSettings kept;
    KRVN_RETURN_IF_FAILED(m_installer.Uninstall(&kept));
    HRESULT hr = RegisterAppId(true, kept);
    if (SUCCEEDED(hr)) {
        hr = RegisterServer();
    }
    if (FAILED(hr)) {
        // The first failure is the one to report.
        static_cast<void>(Register(HostAction::UnregServer));
    }
    return hr;
}

HRESULT CTolvaneModule::RegisterAppId(bool asService, const BootSettings& kept) {
    try {
        if (!asService) {
            KRVN_RETURN_IF_FAILED(m_registrar.RegisterAppId());
            return m_registrar.DeleteLocalService();
        }
        const std::wstring modulePath = KRVN::com::Registrar::ModulePath();
        return RegisterServiceAppId(m_registrar, m_serviceName, [&]() -> HRESULT {
            KRVN_RETURN_IF_FAILED(m_installer.Install(modulePath, kept));
            return EventLog::RegisterSource(m_serviceName, modulePath);
        });
    }
    KRVN_CATCH_RETURN()
}

HRESULT CTolvaneModule::UnregisterAppId() {
    KRVN_RETURN_IF_FAILED(m_installer.Uninstall());
    KRVN_RETURN_IF_FAILED(m_registrar.DeleteLocalService());
    KRVN_RETURN_IF_FAILED(EventLog::UnregisterSource(m_serviceName));
    return m_registrar.UnregisterAppId();
}

HRESULT CTolvaneModule::RegisterServer() {
    try {
        return m_registrar.RegisterServer(KRVN::com::Registrar::ModulePath());
    }
    KRVN_CATCH_RETURN()
}

HRESULT CTolvaneModule::Start() {
    std::wstring localService;
    const HRESULT found = m_registrar.GetLocalService(localService);
    KRVN_RETURN_IF_FAILED(found);
    m_isService = found == S_OK;
    m_log.SetConsole(!m_isService);
    if (m_isService) {
        std::wstring name = m_serviceName;
        SERVICE_TABLE_ENTRYW table[] = {{name.data(), &ServiceMainEntry}, {nullptr, nullptr}};
        // A dispatcher that cannot connect (a start by hand) ends the program
        // with its error as it stands.
        if (!::StartServiceCtrlDispatcherW(table)) {
            return static_cast<HRESULT>(::GetLastError());
        }
        return m_serviceResult;
    }
    const KRVN::unique_couninitialize com(COINIT_MULTITHREADED);
    KRVN_RETURN_IF_FAILED(com.result());
    return Run();
}

HRESULT CTolvaneModule::Run() {
    // The thread's message queue exists before anyone can post the quit to it.
    MSG message;
    ::PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    m_loopThreadId = ::GetCurrentThreadId();

    HRESULT hr = PreMessageLoop();
    if (hr == S_OK) {
        if (m_isService) {
            m_log.Report({EventType::Information, MSG_SERVICE_STARTED, {}});
            m_status.ReportRunning();
        }
        while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
    if (SUCCEEDED(hr)) {
        hr = PostMessageLoop();
    }
    return hr;
}

HRESULT CTolvaneModule::PreMessageLoop() {
    if (!m_isService) {
        KRVN_RETURN_IF_FAILED(WatchForShutdown());
    }
    KRVN_RETURN_IF_FAILED(StartAlarmManager());
    KRVN_RETURN_IF_FAILED(InitializeComSecurity());
    KRVN_RETURN_IF_FAILED(DisableComExceptionHandling());
    const HRESULT hr = RegisterClassObjects();
    if (FAILED(hr)) {
        m_classObjects.RevokeAll();
    }
    return hr;
}

HRESULT CTolvaneModule::StartAlarmManager() {
    try {
        AlarmManager::Instance().Start(m_log);
        return S_OK;
    }
    KRVN_CATCH_RETURN()
}

HRESULT CTolvaneModule::RegisterClassObjects() {
    KRVN_RETURN_IF_FAILED(m_classObjects.Register<QNAlarm>(CLSID_QNAlarm));
    KRVN_RETURN_IF_FAILED(m_classObjects.Register<QNServer>(CLSID_QNServer));
    KRVN_RETURN_IF_FAILED(m_classObjects.Register<QNServers>(CLSID_QNServers));
    return KRVN::com::ClassObjects::Resume();
}

HRESULT CTolvaneModule::PostMessageLoop() {
    if (m_isService) {
        Stopping();
    }
    m_classObjects.RevokeAll();
    if (!m_isService) {
        KRVN::com::Module::Instance().SetUnusedHandler(nullptr);
        // Calls that were under way when the last object went may still be
        // returning on COM's threads.
        ::Sleep(kPauseMs);
    }
    return S_OK;
}

// A plain local server lives while clients hold objects or locks. Objects that
// the alarm manager makes while it starts are counted too, so the watch
// begins before the manager does.
HRESULT CTolvaneModule::WatchForShutdown() {
    try {
        KRVN::com::Module& module = KRVN::com::Module::Instance();
        m_shutdownMonitor =
            std::make_unique<ShutdownMonitor>(m_loopThreadId.load(), kShutdownWaitMs, [&module] {
                return module.ObjectCount() == 0 && module.LockCount() == 0;
            });
        m_shutdownMonitor->Start(nullptr, 0, false);
        module.TrackServerProcess();
        module.SetUnusedHandler([monitor = m_shutdownMonitor.get()] { monitor->Notify(); });
        return S_OK;
    }
    KRVN_CATCH_RETURN()
}

void CTolvaneModule::ServiceMain() {
    const SERVICE_STATUS_HANDLE handle =
        ::RegisterServiceCtrlHandlerW(m_serviceName.c_str(), &HandlerEntry);
    if (!handle) {
        m_log.Report({EventType::Error, MSG_HANDLER_NOT_INSTALLED, {}});
        return;
    }
    m_status.Attach(handle);
    m_status.ReportPending(SERVICE_START_PENDING, kStartWaitHintMs);
    HRESULT result = S_OK;
    {
        const KRVN::unique_couninitialize com(COINIT_MULTITHREADED);
        result = com ? Run() : com.result();
    }
    m_serviceResult = result;
    m_status.ReportStopped(result, m_log, {EventType::Information, MSG_SERVICE_STOPPED, {}});
}

void CTolvaneModule::Handler(DWORD control) {
    switch (control) {
    case SERVICE_CONTROL_STOP:
        OnStop();
        break;
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE:
    case SERVICE_CONTROL_INTERROGATE:
    case SERVICE_CONTROL_SHUTDOWN:
        break;
    default:
        m_log.Report({EventType::Warning, MSG_BAD_SERVICE_REQUEST, {}});
        break;
    }
}

void CTolvaneModule::OnStop() {
    // A control handler returns at once: the stop's work (the watcher, the
    // desktop program) is the service thread's once its loop has ended.
    m_status.ReportPending(SERVICE_STOP_PENDING, kStopWaitHintMs);
    ::PostThreadMessageW(m_loopThreadId, WM_QUIT, 0, 0);
}

void CTolvaneModule::Stopping() {
    // The service stops even when ending the watcher or the desktop program
    // failed.
    AlarmManager& manager = AlarmManager::Instance();
    try {
        manager.Shutdown();
    } catch (...) {
    }
    // A pass under way finishes and its events are written before the
    // process may end; the service manager hears of the progress.
    const ULONGLONG giveUp = ::GetTickCount64() + kFinishPassesMs;
    m_status.ReportPending(SERVICE_STOP_PENDING, kStopWaitHintMs);
    while (!manager.FinishPasses(kStopProgressMs) && ::GetTickCount64() < giveUp) {
        m_status.ReportPending(SERVICE_STOP_PENDING, kStopWaitHintMs);
    }
}

// Written at once, not queued: the process ends right after.
void CTolvaneModule::ImpersonationNotEnded(DWORD error) {
    g_module->m_log.Report({EventType::Error,
                            MSG_IMPERSONATION_NOT_ENDED,
                            {std::to_wstring(error), SystemErrorText(error)}});
}

void WINAPI CTolvaneModule::ServiceMainEntry(DWORD, LPWSTR*) {
    g_module->ServiceMain();
}

void WINAPI CTolvaneModule::HandlerEntry(DWORD control) {
    g_module->Handler(control);
}
