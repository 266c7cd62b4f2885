// Stands in for the product's programs around a setup:
//   GlimSetupPeer service STOP_DELAY_MS
//       an own-process service that, asked to stop, reports a pending stop for that long
//       before it stops (0: at once)
//   GlimSetupPeer
//       a copy registered as another program's service image: a service that stops at once;
//       started as a program (a copy named as the agent, started through the shell): the
//       agent's window, obeying its exit command
//   GlimSetupPeer window TITLE obey|ignore
//       a hidden top-level window with that title that ends its process on WM_COMMAND 105
//       (obey) or never (ignore)
#include <windows.h>

#include <cwchar>
#include <cstdlib>

#include "GlimNames.h"

namespace {

SERVICE_STATUS_HANDLE g_hStatus = nullptr;
HANDLE g_hStop = nullptr;
DWORD g_dwStopDelayMs = 0;

void Report(DWORD dwState, DWORD dwWaitHint)
{
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = dwState;
    status.dwControlsAccepted = dwState == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    status.dwWaitHint = dwWaitHint;
    SetServiceStatus(g_hStatus, &status);
}

DWORD WINAPI OnControl(DWORD dwControl, DWORD, void*, void*)
{
    if (dwControl == SERVICE_CONTROL_STOP) {
        Report(SERVICE_STOP_PENDING, g_dwStopDelayMs + 1000);
        SetEvent(g_hStop);
    }
    return NO_ERROR;
}

void WINAPI ServiceMain(DWORD, wchar_t** argv)
{
    g_hStatus = RegisterServiceCtrlHandlerExW(argv[0], OnControl, nullptr);
    if (!g_hStatus)
        return;
    Report(SERVICE_RUNNING, 0);
    WaitForSingleObject(g_hStop, INFINITE);
    Sleep(g_dwStopDelayMs);
    Report(SERVICE_STOPPED, 0);
}

// False when this process was not started as a service.
bool RunService(const wchar_t* pszDelay)
{
    g_dwStopDelayMs = static_cast<DWORD>(wcstoul(pszDelay, nullptr, 10));
    g_hStop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    wchar_t szName[] = L"GlimSetupPeer";
    const SERVICE_TABLE_ENTRYW table[] = {{szName, ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table) != FALSE;
}

bool g_bObey = false;

LRESULT CALLBACK WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_COMMAND && LOWORD(wParam) == 105 && g_bObey) {
        DestroyWindow(hWnd);
        return 0;
    }
    if (uMsg == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

int RunWindow(const wchar_t* pszTitle, const wchar_t* pszMode)
{
    g_bObey = wcscmp(pszMode, L"obey") == 0;
    WNDCLASSW wc = {};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"GlimSetupPeerWindow";
    if (!RegisterClassW(&wc))
        return 1;
    if (!CreateWindowExW(0, wc.lpszClassName, pszTitle, WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, wc.hInstance,
                         nullptr))
        return 1;
    MSG msg = {};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    if (argc == 1) {
        if (RunService(L"0"))
            return 0;
        return GetLastError() == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT ? RunWindow(glim::kAgentWindowTitle, L"obey")
                                                                         : 1;
    }
    if (argc == 3 && wcscmp(argv[1], L"service") == 0)
        return RunService(argv[2]) ? 0 : 1;
    if (argc == 4 && wcscmp(argv[1], L"window") == 0)
        return RunWindow(argv[2], argv[3]);
    return 2;
}
