#pragma once
// The boot settings of an installed service that an administrator or the
// switch "AutoStart" gave it: start type, failure actions and the
// failure-actions flag. The switch "Service" removes and creates the service
// again; it reads these first and gives them back to the new one, so
// reinstalling by hand does not leave the button unwatched after a reboot or
// a crash.

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "service/service_config_target.h"

struct BootSettings {
    DWORD startType = SERVICE_DEMAND_START;
    // Failure actions: none when the service had none, or when the system
    // keeps none (QueryServiceConfig2W answers ERROR_INVALID_LEVEL).
    DWORD resetSeconds = 0;
    std::optional<std::wstring> rebootMessage;
    std::optional<std::wstring> command;
    std::vector<SC_ACTION> actions;
    bool actionsOnNonCrashFailures = false;
};

// QueryServiceConfig2W answers at most this much (its documented bound).
inline constexpr DWORD kMaxServiceConfigBytes = 8 * 1024;

// False, with the reason in GetLastError(), when a setting the system keeps
// cannot be read.
bool ReadBootSettings(ServiceConfigTarget& target, BootSettings& settings);

// Gives a service just created at demand start the settings read from its
// predecessor; asks nothing for settings that are the new service's own.
// False at the first call refused.
bool RestoreBootSettings(ServiceConfigTarget& target, const BootSettings& settings);
