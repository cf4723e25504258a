#include "service/service_installer.h"

#include "common/unique_handle.h"
#include "service/boot_start.h"

namespace {

constexpr DWORD kStopPollMs = 100;

// Dependencies are a list of names, each ended by a zero, the list by another.
constexpr wchar_t kDependencies[] = L"RPCSS\0";

// Waits until the service reports stopped; a deletion before that only marks
// the service, and a new installation under the same name would then fail.
void WaitUntilStopped(SC_HANDLE service, DWORD limitMs) {
    const ULONGLONG deadline = ::GetTickCount64() + limitMs;
    SERVICE_STATUS status{};
    while (::QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED &&
           ::GetTickCount64() < deadline) {
        ::Sleep(kStopPollMs);
    }
}

class ServiceManagerTarget : public ServiceConfigTarget {
public:
    explicit ServiceManagerTarget(SC_HANDLE service) : m_service(service) {}

    bool SetStartType(DWORD startType) override {
        return ::ChangeServiceConfigW(m_service, SERVICE_NO_CHANGE, startType, SERVICE_NO_CHANGE,
                                      nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                      nullptr) != FALSE;
    }
    bool SetInfo(DWORD level, void* info) override {
        return ::ChangeServiceConfig2W(m_service, level, info) != FALSE;
    }

private:
    SC_HANDLE m_service;
};

} // namespace

void ServiceInstaller::Complain(const wchar_t* text) const {
    ::MessageBoxW(nullptr, text, m_name.c_str(), MB_OK);
}

KRVN::unique_schandle ServiceInstaller::OpenManager(DWORD access) const {
    KRVN::unique_schandle manager(::OpenSCManagerW(nullptr, nullptr, access));
    if (!manager) {
        Complain(L"Could not open Service Manager");
    }
    return manager;
}

KRVN::unique_schandle ServiceInstaller::OpenInstalledService(const KRVN::unique_schandle& manager,
                                                             DWORD access) const {
    KRVN::unique_schandle service(::OpenServiceW(manager.get(), m_name.c_str(), access));
    if (!service) {
        Complain(L"Could not open service");
    }
    return service;
}

bool ServiceInstaller::IsInstalled() const {
    const KRVN::unique_schandle manager = OpenManager(SC_MANAGER_ALL_ACCESS);
    if (!manager) {
        return false;
    }
    const KRVN::unique_schandle service(
        ::OpenServiceW(manager.get(), m_name.c_str(), SERVICE_QUERY_CONFIG));
    return static_cast<bool>(service);
}

bool ServiceInstaller::Install(const std::wstring& programPath) const {
    if (IsInstalled()) {
        return true;
    }
    const std::wstring command = L"\"" + programPath + L"\"";
    const KRVN::unique_schandle manager = OpenManager(SC_MANAGER_ALL_ACCESS);
    if (!manager) {
        return false;
    }
    const KRVN::unique_schandle service(
        ::CreateServiceW(manager.get(), m_name.c_str(), m_name.c_str(), SERVICE_ALL_ACCESS,
                         SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                         command.c_str(), nullptr, nullptr, kDependencies, nullptr, nullptr));
    if (!service) {
        Complain(L"Could not start service");
        return false;
    }
    return true;
}

bool ServiceInstaller::Uninstall() const {
    if (!IsInstalled()) {
        return true;
    }
    const KRVN::unique_schandle manager = OpenManager(SC_MANAGER_ALL_ACCESS);
    if (!manager) {
        return false;
    }
    const KRVN::unique_schandle service =
        OpenInstalledService(manager, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE);
    if (!service) {
        return false;
    }
    SERVICE_STATUS status{};
    if (::ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
        WaitUntilStopped(service.get(), kStopWaitMs);
    } else {
        const DWORD error = ::GetLastError();
        const bool stopping = error == ERROR_SERVICE_CANNOT_ACCEPT_CTRL &&
                              status.dwCurrentState == SERVICE_STOP_PENDING;
        if (stopping) {
            WaitUntilStopped(service.get(), kStopWaitMs);
        } else if (error != ERROR_SERVICE_NOT_ACTIVE) {
            Complain(L"Could not stop service");
        }
    }
    if (!::DeleteService(service.get())) {
        Complain(L"Could not delete service");
        return false;
    }
    return true;
}

bool ServiceInstaller::ConfigureBootStart() const {
    const KRVN::unique_schandle manager = OpenManager(SC_MANAGER_CONNECT);
    if (!manager) {
        return false;
    }
    // Restart actions need the right to start the service.
    const KRVN::unique_schandle service =
        OpenInstalledService(manager, SERVICE_CHANGE_CONFIG | SERVICE_START);
    if (!service) {
        return false;
    }
    ServiceManagerTarget target(service.get());
    if (!ApplyBootStart(target)) {
        Complain(L"Could not configure service");
        return false;
    }
    return true;
}
