#include "FailureActions.h"

#include <gtest/gtest.h>

#include <iterator>

#include "InstallLayout.h"

namespace glimtest {

bool ReadFailureActions(SC_HANDLE hService, SFailureActions* pActions, DWORD* pdwErr)
{
    BYTE buffer[1024] = {};
    DWORD cbNeeded = 0;
    SetLastError(0xdeadbeef);
    if (!QueryServiceConfig2W(hService, SERVICE_CONFIG_FAILURE_ACTIONS, buffer, sizeof(buffer), &cbNeeded)) {
        *pdwErr = GetLastError();
        return false;
    }
    const auto* pStored = reinterpret_cast<const SERVICE_FAILURE_ACTIONSW*>(buffer);
    pActions->dwResetSeconds = pStored->dwResetPeriod;
    pActions->actions.assign(pStored->lpsaActions, pStored->lpsaActions + pStored->cActions);
    *pdwErr = ERROR_SUCCESS;
    return true;
}

bool ReadFailureActionsFlag(SC_HANDLE hService, BOOL* pbOnNonCrashFailures, DWORD* pdwErr)
{
    SERVICE_FAILURE_ACTIONS_FLAG flag = {};
    DWORD cbNeeded = 0;
    SetLastError(0xdeadbeef);
    if (!QueryServiceConfig2W(hService, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, reinterpret_cast<BYTE*>(&flag),
                              sizeof(flag), &cbNeeded)) {
        *pdwErr = GetLastError();
        return false;
    }
    *pbOnNonCrashFailures = flag.fFailureActionsOnNonCrashFailures;
    *pdwErr = ERROR_SUCCESS;
    return true;
}

void ExpectStoredProductRecovery(SC_HANDLE hService)
{
    SFailureActions stored;
    DWORD dwErr = 0;
    if (!ReadFailureActions(hService, &stored, &dwErr)) {
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_LEVEL), dwErr);
        GTEST_SKIP() << "Wine accepts failure actions but answers their query with error 124: what is stored is "
                        "seen on Windows only";
    }
    ASSERT_EQ(std::size(glim::kRecoveryDelaysMs), stored.actions.size());
    EXPECT_EQ(glim::kRecoveryResetSeconds, stored.dwResetSeconds);
    for (size_t i = 0; i < stored.actions.size(); ++i) {
        EXPECT_EQ(SC_ACTION_RESTART, stored.actions[i].Type) << i;
        EXPECT_EQ(glim::kRecoveryDelaysMs[i], stored.actions[i].Delay) << i;
    }
}

}  // namespace glimtest
