// Writes lines to the agent's log as fast as it can, through the agent's own log call:
//   logwriter COUNT [READY_SEMAPHORE GO_EVENT]
// With the two names it releases the semaphore once its log is open and waits for the
// event before writing, so that a test can make several writers start together.
//   logwriter invalid-parameter
// The second form installs the log's invalid-parameter handler, calls the handler now in
// force as the runtime would, then hands the runtime an invalid parameter and reports on
// standard output that the process carried on.
// Exit code 0 when the log was on and every line was handed over, 2 when the log did not
// start, 1 on bad arguments.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <cwctype>

#include "AgentLog.h"
#include "GlimLog.h"

int wmain(int argc, wchar_t** argv)
{
    if (argc == 2 && wcscmp(argv[1], L"invalid-parameter") == 0) {
        logfilesync::InstallInvalidParameterHandler();
        _invalid_parameter_handler pfnHandler = _get_invalid_parameter_handler();
        if (!pfnHandler)
            return 4;
        pfnHandler(L"count > 0", L"wcsncpy_s", L"string.c", 42, 0);
        fflush(stdout);
        wchar_t* pszNull = nullptr;
        errno_t err = wcscpy_s(pszNull, 0, L"x");
        wprintf(L"carried on, error %d\n", static_cast<int>(err));
        fflush(stdout);
        return 0;
    }
    if (argc < 2 || !iswdigit(argv[1][0]))
        return 1;
    int nCount = _wtoi(argv[1]);
    if (!logfilesync::StartAgentLog())
        return 2;
    if (argc >= 4) {
        HANDLE hReady = OpenSemaphoreW(SEMAPHORE_MODIFY_STATE, FALSE, argv[2]);
        HANDLE hGo = OpenEventW(SYNCHRONIZE, FALSE, argv[3]);
        if (!hReady || !hGo)
            return 3;
        ReleaseSemaphore(hReady, 1, nullptr);
        WaitForSingleObject(hGo, 30000);
        CloseHandle(hReady);
        CloseHandle(hGo);
    }
    // A long, recognisable body makes a torn or interleaved line easy to see.
    wchar_t szBody[301];
    for (int i = 0; i < 300; ++i)
        szBody[i] = static_cast<wchar_t>(L'a' + i % 26);
    szBody[300] = L'\0';
    for (int i = 0; i < nCount; ++i)
        GLIM_LOG('I', L"logwriter", L"seq=%d body=%s end", i, szBody);
    logfilesync::StopAgentLog();
    return 0;
}
