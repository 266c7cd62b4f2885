// The recovery the service is registered with, set by the service's own install verb and by
// the setup helper: restart after each delay in turn (the last one repeats), failures counted
// afresh after a day without one, and the actions applied to a stop with an error too.
#pragma once

#include <windows.h>

namespace glim {

constexpr DWORD kRecoveryDelaysMs[3] = {5000, 30000, 60000};
constexpr DWORD kRecoveryResetSeconds = 86400;
// The recovery also applies when the service stops with an error or fails to start, not
// only when its process crashes.
constexpr BOOL kRecoveryOnNonCrashFailures = TRUE;

// Sets the restart actions and the reset period. The handle needs SERVICE_CHANGE_CONFIG and
// SERVICE_START. Returns ERROR_SUCCESS or the call's error.
DWORD ConfigureRecovery(SC_HANDLE hService);

// Sets the failure-actions flag. A manager that does not know it answers ERROR_INVALID_LEVEL
// and still restarts after a crash. Returns ERROR_SUCCESS or the call's error.
DWORD ConfigureRecoveryOnErrors(SC_HANDLE hService);

}  // namespace glim
