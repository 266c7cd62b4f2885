// The recovery the service manager stores for a service, read back. Wine accepts failure
// actions and their flag but answers both queries with ERROR_INVALID_LEVEL (124).
#pragma once

#include <windows.h>

#include <vector>

namespace glimtest {

struct SFailureActions {
    DWORD dwResetSeconds = 0;
    std::vector<SC_ACTION> actions;
};

// False, with the query's error in *pdwErr, when the manager does not report them.
bool ReadFailureActions(SC_HANDLE hService, SFailureActions* pActions, DWORD* pdwErr);
bool ReadFailureActionsFlag(SC_HANDLE hService, BOOL* pbOnNonCrashFailures, DWORD* pdwErr);

// Checks that the stored actions are the install layout's: a restart after each delay, and
// the reset period. Where the manager does not report them (Wine: error 124) the test is skipped,
// so call it last.
void ExpectStoredProductRecovery(SC_HANDLE hService);

}  // namespace glimtest
