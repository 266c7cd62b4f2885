// Process start for tests. Wine now and then refuses a start with ERROR_INTERNAL_ERROR
// (1359) while another process of the prefix starts or ends; a short retry gets through.
#pragma once

#include <windows.h>

namespace glimtest {

// CreateProcessW with the retry above. Returns 0 and fills *pPi, or the last error.
DWORD CreateProcessRetrying(const wchar_t* pszApplication, wchar_t* pszCommandLine, BOOL bInheritHandles, DWORD dwFlags,
                            STARTUPINFOW* pStartup, PROCESS_INFORMATION* pPi);

}  // namespace glimtest
