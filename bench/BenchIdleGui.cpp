// The idle floors: a trivial windows program with one hidden window idling in its message
// loop. Arguments add what a design with one new check thread per 2-second tick must pay:
//   thread  one empty thread every 2 seconds through the runtime library (default stack);
//   send    ... and that thread sends one message to the window and ends (SendMessageW);
//   dlls    the agent's libraries are loaded first (COM joined, the shell, the power API),
//           so every thread start and end also notifies them.
// Ends when its window is closed (or when it is terminated).
#include <windows.h>

#include <objbase.h>
#include <process.h>

#include <cwchar>
#include <initializer_list>

namespace {

constexpr UINT kWmCheck = WM_APP + 1;
HWND g_hWnd = nullptr;
bool g_bSend = false;

void __cdecl CheckThread(void*)
{
    if (g_bSend)
        SendMessageW(g_hWnd, kWmCheck, 0, 0);
}

void CALLBACK StartThreadTimerProc(HWND, UINT, UINT_PTR, DWORD)
{
    _beginthread(CheckThread, 0, nullptr);
}

LRESULT CALLBACK WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return uMsg == kWmCheck ? 0 : DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

// The libraries the agent's main instance has loaded when it idles, loaded at run time so
// that the plain floors stay without them; COM joined as the agent's main thread does.
void LoadAgentLibraries()
{
    for (const wchar_t* pszDll : {L"shell32.dll", L"shlwapi.dll", L"oleaut32.dll", L"powrprof.dll"})
        LoadLibraryW(pszDll);
    using PFN_CoInitializeEx = HRESULT(WINAPI*)(LPVOID, DWORD);
    const auto pfnInit = reinterpret_cast<PFN_CoInitializeEx>(
        reinterpret_cast<void*>(GetProcAddress(LoadLibraryW(L"ole32.dll"), "CoInitializeEx")));
    if (pfnInit)
        pfnInit(nullptr, COINIT_MULTITHREADED);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, PWSTR pszCmdLine, int)
{
    if (wcsstr(pszCmdLine, L"dlls"))
        LoadAgentLibraries();
    g_bSend = wcsstr(pszCmdLine, L"send") != nullptr;
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = WndProc;
    wc.hInstance = hInstance;
    wc.lpszClassName = L"GlimBenchIdle";
    if (!RegisterClassExW(&wc))
        return 1;
    g_hWnd = CreateWindowExW(0, wc.lpszClassName, L"Glimkit bench idle floor", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                             CW_USEDEFAULT, 0, nullptr, nullptr, hInstance, nullptr);
    if (!g_hWnd)
        return 1;
    if (wcsstr(pszCmdLine, L"thread") || g_bSend)
        SetTimer(nullptr, 0, 2000, StartThreadTimerProc);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0)
        DispatchMessageW(&msg);
    return 0;
}
