#pragma once
// Installs the program as a Windows service and removes it again. Every
// failure is reported through the switch's failure outputs (switch_failure.h)
// and answered with the Win32 error as an HRESULT, so a silent installation
// logs why it failed instead of waiting on a message box.

#include <windows.h>

#include <string>

#include "common/unique_handle.h"
#include "service/boot_settings.h"
#include "service/switch_failure.h"

class ServiceInstaller {
public:
    // How long removal waits for a running service to stop before deleting it.
    static constexpr DWORD kStopWaitMs = 30000;
    // How long a reinstallation waits for other programs to let go of the
    // old service's entry.
    static constexpr DWORD kGoneWaitMs = 30000;

    // outputs outlives the installer.
    ServiceInstaller(std::wstring serviceName, SwitchFailureOutputs& outputs)
        : m_name(std::move(serviceName)), m_outputs(outputs) {}

    // Own process, stop only, demand start, normal error control, depends on
    // RPCSS, started as programPath in double quotes; then the boot settings
    // kept from the service it replaces. Already installed is done.
    HRESULT Install(const std::wstring& programPath, const BootSettings& kept = {}) const;
    // Reads the service's boot settings into kept (when given), asks a
    // running (or starting) service to stop, waits for it, and deletes it in
    // any case; a service already marked for deletion counts as deleted. With
    // kept (a reinstallation follows) it then waits until the entry is gone.
    // Not installed is done (kept stays empty).
    HRESULT Uninstall(BootSettings* kept = nullptr) const;
    // Gives the installed service automatic start and restarts after a
    // failure (boot_start.h).
    HRESULT ConfigureBootStart() const;

private:
    HRESULT Complain(const wchar_t* text, DWORD error) const;
    HRESULT OpenManager(DWORD access, KRVN::unique_schandle& manager) const;

    std::wstring m_name;
    SwitchFailureOutputs& m_outputs;
};
