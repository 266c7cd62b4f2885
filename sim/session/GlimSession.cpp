// glimsession: the parts of the simulated user session that Wine lacks, for the demo and
// scripts: the console session's lock state (answered by the wtsapi32 stand-in) and
// starting Wine's desktop process (explorer.exe).
// Exit code 0 when the command did what it says, 1 when it failed, 2 for a usage error.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>

#include "ServiceHarness.h"
#include "SimSessionProtocol.h"

namespace {

int Usage()
{
    wprintf(L"usage: glimsession COMMAND\n"
            L"  lock | unlock | unknown  set the console session's lock state the stand-in reports\n"
            L"  clear                    forget the lock state (reads as unlocked)\n"
            L"  explorer                 make sure Wine's desktop process explorer.exe runs\n"
            L"  desktop [SECONDS]        keep using the display (so explorer.exe stays) until 'desktop-end'\n"
            L"                           or SECONDS (default 600) pass\n"
            L"  desktop-end              end a running 'desktop'\n");
    return 2;
}

int SetFlags(DWORD dwFlags, const wchar_t* pszWord)
{
    const DWORD dwErr = RegSetKeyValueW(HKEY_LOCAL_MACHINE, simsession::kRegKey, simsession::kValueSessionFlags,
                                        REG_DWORD, &dwFlags, sizeof(dwFlags));
    if (dwErr != ERROR_SUCCESS) {
        wprintf(L"Could not set the session state (error %lu).\n", dwErr);
        return 1;
    }
    wprintf(L"The console session now reads as %ls.\n", pszWord);
    return 0;
}

// Wine's desktop process ends some time after the last process that uses the display;
// this one keeps using it until told to stop.
constexpr const wchar_t* kDesktopEndEvent = L"GlimSessionDesktopEnd";

int HoldDesktop(DWORD dwSeconds)
{
    HANDLE hEnd = CreateEventW(nullptr, TRUE, FALSE, kDesktopEndEvent);
    if (!hEnd) {
        wprintf(L"Could not create the end event (error %lu).\n", GetLastError());
        return 1;
    }
    HWND hWnd =
        CreateWindowExW(0, L"STATIC", L"glimsession", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    if (!glimtest::EnsureExplorer()) {
        wprintf(L"explorer.exe did not start.\n");
        CloseHandle(hEnd);
        return 1;
    }
    wprintf(L"explorer.exe runs; holding the desktop.\n");
    fflush(stdout);
    const ULONGLONG ullDeadline = GetTickCount64() + dwSeconds * 1000ull;
    for (;;) {
        const ULONGLONG ullNow = GetTickCount64();
        if (ullNow >= ullDeadline)
            break;
        const DWORD dwWait =
            MsgWaitForMultipleObjects(1, &hEnd, FALSE, static_cast<DWORD>(ullDeadline - ullNow), QS_ALLINPUT);
        if (dwWait != WAIT_OBJECT_0 + 1)
            break;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
    }
    if (hWnd)
        DestroyWindow(hWnd);
    CloseHandle(hEnd);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return Usage();
    const wchar_t* pszCmd = argv[1];
    if (argc == 2 && wcscmp(pszCmd, L"lock") == 0)
        return SetFlags(simsession::kFlagsLocked, L"locked");
    if (argc == 2 && wcscmp(pszCmd, L"unlock") == 0)
        return SetFlags(simsession::kFlagsUnlocked, L"unlocked");
    if (argc == 2 && wcscmp(pszCmd, L"unknown") == 0)
        return SetFlags(simsession::kFlagsUnknown, L"unknown (not locked)");
    if (argc == 2 && wcscmp(pszCmd, L"clear") == 0) {
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, simsession::kRegKey);
        wprintf(L"Session state cleared.\n");
        return 0;
    }
    if (argc == 2 && wcscmp(pszCmd, L"explorer") == 0) {
        if (!glimtest::EnsureExplorer()) {
            wprintf(L"explorer.exe did not start.\n");
            return 1;
        }
        wprintf(L"explorer.exe runs.\n");
        return 0;
    }
    if ((argc == 2 || argc == 3) && wcscmp(pszCmd, L"desktop") == 0) {
        const DWORD dwSeconds = argc == 3 ? static_cast<DWORD>(_wtoi(argv[2])) : 600;
        return HoldDesktop(dwSeconds > 0 ? dwSeconds : 600);
    }
    if (argc == 2 && wcscmp(pszCmd, L"desktop-end") == 0) {
        HANDLE hEnd = OpenEventW(EVENT_MODIFY_STATE, FALSE, kDesktopEndEvent);
        if (hEnd) {
            SetEvent(hEnd);
            CloseHandle(hEnd);
        }
        wprintf(L"Desktop holder ended (if one ran).\n");
        return 0;
    }
    return Usage();
}
