#include "service/service_installer.h"

#include "com/result.h"
#include "service/boot_start.h"
#include "service/service_manager_target.h"

namespace {

constexpr DWORD kStopPollMs = 100;

// Dependencies are a list of names, each ended by a zero, the list by another.
constexpr wchar_t kDependencies[] = L"RPCSS\0";

// Waits until the service has left state (it reports another, or cannot be
// asked), at most limitMs.
void WaitWhileIn(SC_HANDLE service, DWORD state, DWORD limitMs) {
    const ULONGLONG deadline = ::GetTickCount64() + limitMs;
    SERVICE_STATUS status{};
    while (::QueryServiceStatus(service, &status) && status.dwCurrentState == state &&
           ::GetTickCount64() < deadline) {
        ::Sleep(kStopPollMs);
    }
}

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

// A deleted service stays, marked, until every handle to it is closed (the
// Services console holds one while open): waits, at most limitMs, until the
// manager no longer knows it.
void WaitUntilGone(SC_HANDLE manager, const std::wstring& name, DWORD limitMs) {
    const ULONGLONG deadline = ::GetTickCount64() + limitMs;
    for (;;) {
        const KRVN::unique_schandle still(
            ::OpenServiceW(manager, name.c_str(), SERVICE_QUERY_STATUS));
        if (!still || ::GetTickCount64() >= deadline) {
            return;
        }
        ::Sleep(kStopPollMs);
    }
}

} // namespace

HRESULT ServiceInstaller::Complain(const wchar_t* text, DWORD error) const {
    return ReportSwitchFailure(m_outputs, m_name, text, error);
}

HRESULT ServiceInstaller::OpenManager(DWORD access, KRVN::unique_schandle& manager) const {
    manager.reset(::OpenSCManagerW(nullptr, nullptr, access));
    if (!manager) {
        return Complain(L"Could not open Service Manager", ::GetLastError());
    }
    return S_OK;
}

HRESULT ServiceInstaller::Install(const std::wstring& programPath, const BootSettings& kept) const {
    KRVN::unique_schandle manager;
    KRVN_RETURN_IF_FAILED(OpenManager(SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE, manager));
    const std::wstring command = L"\"" + programPath + L"\"";
    const KRVN::unique_schandle service(
        ::CreateServiceW(manager.get(), m_name.c_str(), m_name.c_str(), SERVICE_ALL_ACCESS,
                         SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                         command.c_str(), nullptr, nullptr, kDependencies, nullptr, nullptr));
    if (!service) {
        const DWORD error = ::GetLastError();
        return error == ERROR_SERVICE_EXISTS ? S_OK : Complain(L"Could not start service", error);
    }
    ServiceManagerTarget target(service.get());
    if (!RestoreBootSettings(target, kept)) {
        return Complain(L"Could not configure service", ::GetLastError());
    }
    return S_OK;
}

HRESULT ServiceInstaller::Uninstall(BootSettings* kept) const {
    KRVN::unique_schandle manager;
    KRVN_RETURN_IF_FAILED(OpenManager(SC_MANAGER_CONNECT, manager));
    const DWORD access =
        SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE | (kept ? SERVICE_QUERY_CONFIG : 0);
    KRVN::unique_schandle service(::OpenServiceW(manager.get(), m_name.c_str(), access));
    if (!service) {
        const DWORD error = ::GetLastError();
        return error == ERROR_SERVICE_DOES_NOT_EXIST ? S_OK
                                                     : Complain(L"Could not open service", error);
    }
    if (kept) {
        ServiceManagerTarget target(service.get());
        if (!ReadBootSettings(target, *kept)) {
            return Complain(L"Could not read service configuration", ::GetLastError());
        }
    }
    SERVICE_STATUS status{};
    BOOL asked = ::ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    if (!asked && ::GetLastError() == ERROR_SERVICE_CANNOT_ACCEPT_CTRL &&
        status.dwCurrentState == SERVICE_START_PENDING) {
        // A starting service takes no control: it is asked once it runs.
        WaitWhileIn(service.get(), SERVICE_START_PENDING, kStopWaitMs);
        asked = ::ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    }
    if (asked) {
        WaitUntilStopped(service.get(), kStopWaitMs);
    } else {
        const DWORD error = ::GetLastError();
        const bool stopping = error == ERROR_SERVICE_CANNOT_ACCEPT_CTRL &&
                              status.dwCurrentState == SERVICE_STOP_PENDING;
        if (stopping) {
            WaitUntilStopped(service.get(), kStopWaitMs);
        } else if (error != ERROR_SERVICE_NOT_ACTIVE) {
            // Reported, and the deletion goes on: the service goes once it stops.
            Complain(L"Could not stop service", error);
        }
    }
    // Marked for deletion already (an earlier removal whose handles are
    // still open) is as good as deleted.
    if (!::DeleteService(service.get()) && ::GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE) {
        return Complain(L"Could not delete service", ::GetLastError());
    }
    if (kept) {
        // Installed again at once: the old entry must be gone first. Another
        // program that keeps it open longer makes the installation say so.
        service.reset();
        WaitUntilGone(manager.get(), m_name, kGoneWaitMs);
    }
    return S_OK;
}

HRESULT ServiceInstaller::ConfigureBootStart() const {
    KRVN::unique_schandle manager;
    KRVN_RETURN_IF_FAILED(OpenManager(SC_MANAGER_CONNECT, manager));
    // Restart actions need the right to start the service.
    const KRVN::unique_schandle service(
        ::OpenServiceW(manager.get(), m_name.c_str(), SERVICE_CHANGE_CONFIG | SERVICE_START));
    if (!service) {
        return Complain(L"Could not open service", ::GetLastError());
    }
    ServiceManagerTarget target(service.get());
    if (!ApplyBootStart(target)) {
        return Complain(L"Could not configure service", ::GetLastError());
    }
    return S_OK;
}
