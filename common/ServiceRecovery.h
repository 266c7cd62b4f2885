// The recovery the service is registered with (the install layout's delays, reset period and
// flag), set by the service's own install verb and by the setup helper.
#pragma once

#include <windows.h>

#include "InstallLayout.h"

namespace glim {

// Sets the restart actions and the reset period. The handle needs SERVICE_CHANGE_CONFIG and
// SERVICE_START. Returns ERROR_SUCCESS or the call's error.
DWORD ConfigureRecovery(SC_HANDLE hService);

// Sets the failure-actions flag. A manager that does not know it answers ERROR_INVALID_LEVEL
// and still restarts after a crash. Returns ERROR_SUCCESS or the call's error.
DWORD ConfigureRecoveryOnErrors(SC_HANDLE hService);

}  // namespace glim
