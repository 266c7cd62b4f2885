// A helper program of test_fullscreen: runs the full-screen check of the agent's sensing
// library in a process of its own, so that Wine loads the stand-in powrprof.dll for it
// (per-program override, DLL beside this program). Writes every log line to the file
// named on its command line and exits with the verdict.
//   fullscreen_probe check LOGFILE     exit code: IsVedioPlayFullScreen()
//   fullscreen_probe monitor LOGFILE   exit code: wParam of the first WM_FULLSCREEN that the
//                                      2-second check sends; 20 when no check was started,
//                                      21 when none arrived within 6 s
#include <windows.h>
#include <objbase.h>

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <string>

#include "FullScreen.h"
#include "GlimLog.h"
#include "GlimNames.h"
#include "SettingsFile.h"
#include "UIAutomation.h"

namespace {
FILE* g_pLog = nullptr;
CRITICAL_SECTION g_csLog;
UINT_PTR g_nVerdict = 21;
bool g_bGotVerdict = false;

LRESULT CALLBACK ProbeWndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == glim::WM_FULLSCREEN && !g_bGotVerdict) {
        g_nVerdict = wParam;
        g_bGotVerdict = true;
        return 0;
    }
    return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

int RunMonitor()
{
    WNDCLASSW wc = {};
    wc.lpfnWndProc = ProbeWndProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"GlimFullScreenProbe";
    RegisterClassW(&wc);
    HWND hWnd = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    CFullScreen* pFullScreen = CFullScreen::GetInstance();
    pFullScreen->StartFullScreenMonitor(hWnd);
    if (!pFullScreen->IsMonitoring())
        return 20;
    const DWORD dwStart = GetTickCount();
    while (!g_bGotVerdict && GetTickCount() - dwStart < 6000) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
    }
    pFullScreen->StopFullScreenMonitor();
    return static_cast<int>(g_nVerdict);
}
}  // namespace

void GlimLog(char chLevel, const wchar_t* pszFunction, int, const wchar_t* pszFormat, ...)
{
    if (!g_pLog)
        return;
    wchar_t szMessage[1024] = {};
    va_list args;
    va_start(args, pszFormat);
    _vsnwprintf(szMessage, 1023, pszFormat, args);
    va_end(args);
    std::wstring strLine(1, static_cast<wchar_t>(chLevel));
    strLine += std::wstring(L"|") + pszFunction + L"|" + szMessage + L"\n";
    char szLine[4096] = {};
    WideCharToMultiByte(CP_UTF8, 0, strLine.c_str(), -1, szLine, sizeof(szLine) - 1, nullptr, nullptr);
    EnterCriticalSection(&g_csLog);
    fputs(szLine, g_pLog);
    fflush(g_pLog);
    LeaveCriticalSection(&g_csLog);
}

int wmain(int argc, wchar_t** argv)
{
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    if (argc < 3)
        return 30;
    InitializeCriticalSection(&g_csLog);
    g_pLog = _wfopen(argv[2], L"wb");
    if (!g_pLog)
        return 31;
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
        return 32;
    CSettingsFile::GetInstance()->BuildPath();
    wchar_t szPowrProf[MAX_PATH] = {};
    GetModuleFileNameW(GetModuleHandleW(L"powrprof.dll"), szPowrProf, MAX_PATH);
    GlimLog('I', L"probe", 0, (std::wstring(L"powrprof=") + szPowrProf).c_str());
    int nResult = 0;
    if (wcscmp(argv[1], L"check") == 0) {
        CUIAutomation::GetInstance()->InitializeUIAutomation();
        nResult = CFullScreen::GetInstance()->IsVedioPlayFullScreen();
    } else {
        nResult = RunMonitor();
    }
    fclose(g_pLog);
    g_pLog = nullptr;
    return nResult;
}
