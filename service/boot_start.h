#pragma once
// What the package adds to the installed service (the switch "AutoStart"):
// it starts at boot, so the red button is watched before anyone logs on, and
// the service manager restarts it after a failure, so a crash leaves the
// button unwatched for seconds only. The switch "Service" keeps installing
// with demand start, as a service started by hand or by COM needs.

#include <windows.h>

#include "service/service_config_target.h"

// The first two failures restart the service after kQuickRestartMs, later ones
// after kSlowRestartMs, so a service that cannot run does not spin; the count
// of failures starts again after a day without one.
inline constexpr DWORD kQuickRestartMs = 5000;
inline constexpr DWORD kSlowRestartMs = 60000;
inline constexpr DWORD kFailureResetSeconds = 24 * 60 * 60;

// Automatic start, restarts when the process ends without having reported the
// service stopped and, through the failure-actions flag, also when it stops
// with an error (a start that failed); false at the first call refused, but
// a manager without the flag is no failure.
bool ApplyBootStart(ServiceConfigTarget& target);
