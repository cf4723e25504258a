#include "service/boot_start.h"

bool ApplyBootStart(ServiceConfigTarget& target) {
    if (!target.SetStartType(SERVICE_AUTO_START)) {
        return false;
    }
    SC_ACTION actions[] = {{SC_ACTION_RESTART, kQuickRestartMs},
                           {SC_ACTION_RESTART, kQuickRestartMs},
                           {SC_ACTION_RESTART, kSlowRestartMs}};
    SERVICE_FAILURE_ACTIONSW failure{};
    failure.dwResetPeriod = kFailureResetSeconds;
    failure.cActions = ARRAYSIZE(actions);
    failure.lpsaActions = actions;
    if (!target.SetInfo(SERVICE_CONFIG_FAILURE_ACTIONS, &failure)) {
        return false;
    }
    // Without the flag only a crash counts: a start that fails (the service
    // stops with an error code) would never be tried again. It counts only
    // once the actions are there. A manager that has no such setting
    // (ERROR_INVALID_LEVEL: Windows before Vista, Wine) restarts after
    // crashes only.
    SERVICE_FAILURE_ACTIONS_FLAG flag{TRUE};
    return target.SetInfo(SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag) ||
           ::GetLastError() == ERROR_INVALID_LEVEL;
}
