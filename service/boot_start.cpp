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
    return target.SetInfo(SERVICE_CONFIG_FAILURE_ACTIONS, &failure);
}
