#pragma once
// Installs the program as a Windows service and removes it again. Every
// failure is shown in a message box titled with the service name and
// answered with false.

#include <windows.h>

#include <string>

#include "common/unique_handle.h"

class ServiceInstaller {
public:
    // How long removal waits for a running service to stop before deleting it.
    static constexpr DWORD kStopWaitMs = 30000;

    explicit ServiceInstaller(std::wstring serviceName) : m_name(std::move(serviceName)) {}

    // Whether the service manager knows the service; false (with a message
    // box) also when the manager cannot be opened.
    bool IsInstalled() const;
    // Own process, stop only, demand start, normal error control, depends on
    // RPCSS, started as programPath in double quotes. Already installed is done.
    bool Install(const std::wstring& programPath) const;
    // Asks a running service to stop, waits for it, and deletes it in any
    // case. Not installed is done.
    bool Uninstall() const;
    // Gives the installed service automatic start and restarts after a
    // failure (boot_start.h).
    bool ConfigureBootStart() const;

private:
    void Complain(const wchar_t* text) const;
    // Null, after a message box, when it cannot be opened.
    KRVN::unique_schandle OpenManager(DWORD access) const;
    KRVN::unique_schandle OpenInstalledService(const KRVN::unique_schandle& manager,
                                               DWORD access) const;

    std::wstring m_name;
};
