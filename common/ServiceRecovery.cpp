#include "ServiceRecovery.h"

#include <iterator>

// A crashed service is restarted by its control manager instead of leaving the hotkey dead
// until the next boot.
DWORD glim::ConfigureRecovery(SC_HANDLE hService)
{
    SC_ACTION actions[std::size(kRecoveryDelaysMs)] = {};
    for (size_t i = 0; i < std::size(kRecoveryDelaysMs); ++i)
        actions[i] = {SC_ACTION_RESTART, kRecoveryDelaysMs[i]};
    SERVICE_FAILURE_ACTIONSW failure = {};
    failure.dwResetPeriod = kRecoveryResetSeconds;
    failure.cActions = static_cast<DWORD>(std::size(actions));
    failure.lpsaActions = actions;
    return ChangeServiceConfig2W(hService, SERVICE_CONFIG_FAILURE_ACTIONS, &failure) ? ERROR_SUCCESS : GetLastError();
}

// Without the flag the actions follow a crash only: a start that fails, or a service that
// stops with an error, would stay stopped.
DWORD glim::ConfigureRecoveryOnErrors(SC_HANDLE hService)
{
    SERVICE_FAILURE_ACTIONS_FLAG flag = {kRecoveryOnNonCrashFailures};
    return ChangeServiceConfig2W(hService, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag) ? ERROR_SUCCESS : GetLastError();
}
