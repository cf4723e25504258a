#pragma once
// What the package adds to the installed service (the switch "AutoStart"):
// it starts at boot, so the red button is watched before anyone logs on, and
// the service manager restarts it after a failure, so a crash leaves the
// button unwatched for seconds only. The switch "Service" keeps installing
// with demand start, as a service started by hand or by COM needs.

#include <windows.h>

// The two service-manager calls the settings go through, so a test can see
// what is asked for.
class ServiceConfigTarget {
public:
    virtual ~ServiceConfigTarget() = default;
    // ChangeServiceConfigW with only the start type changed.
    virtual bool SetStartType(DWORD startType) = 0;
    // ChangeServiceConfig2W.
    virtual bool SetInfo(DWORD level, void* info) = 0;
};

// The first two failures restart the service after kQuickRestartMs, later ones
// after kSlowRestartMs, so a service that cannot run does not spin; the count
// of failures starts again after a day without one.
inline constexpr DWORD kQuickRestartMs = 5000;
inline constexpr DWORD kSlowRestartMs = 60000;
inline constexpr DWORD kFailureResetSeconds = 24 * 60 * 60;

// Automatic start, and restarts when the process ends without having reported
// the service stopped; false at the first call refused.
bool ApplyBootStart(ServiceConfigTarget& target);
