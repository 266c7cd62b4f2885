#include "ProcessStart.h"

namespace glimtest {

DWORD CreateProcessRetrying(const wchar_t* pszApplication, wchar_t* pszCommandLine, BOOL bInheritHandles, DWORD dwFlags,
                            STARTUPINFOW* pStartup, PROCESS_INFORMATION* pPi)
{
    constexpr int kAttempts = 4;
    DWORD dwErr = ERROR_SUCCESS;
    for (int nAttempt = 0; nAttempt < kAttempts; ++nAttempt) {
        if (nAttempt > 0)
            Sleep(200);
        if (CreateProcessW(pszApplication, pszCommandLine, nullptr, nullptr, bInheritHandles, dwFlags, nullptr, nullptr,
                           pStartup, pPi))
            return ERROR_SUCCESS;
        dwErr = GetLastError();
        if (dwErr != ERROR_INTERNAL_ERROR)
            break;
    }
    return dwErr;
}

}  // namespace glimtest
