// The idle floors: a trivial windows program with one hidden window idling in its message
// loop; with the argument "thread" it also starts one empty thread every 2 seconds through
// the runtime library (default stack), as a design that checks on a new thread every
// 2 seconds must. Ends when its window is closed (or when it is terminated).
#include <windows.h>

#include <process.h>

#include <cwchar>

namespace {

void __cdecl EmptyThread(void*) {}

void CALLBACK StartThreadTimerProc(HWND, UINT, UINT_PTR, DWORD)
{
    _beginthread(EmptyThread, 0, nullptr);
}

LRESULT CALLBACK WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, PWSTR pszCmdLine, int)
{
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = WndProc;
    wc.hInstance = hInstance;
    wc.lpszClassName = L"GlimBenchIdle";
    if (!RegisterClassExW(&wc))
        return 1;
    HWND hWnd = CreateWindowExW(0, wc.lpszClassName, L"Glimkit bench idle floor", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                0, CW_USEDEFAULT, 0, nullptr, nullptr, hInstance, nullptr);
    if (!hWnd)
        return 1;
    if (wcsstr(pszCmdLine, L"thread"))
        SetTimer(nullptr, 0, 2000, StartThreadTimerProc);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0)
        DispatchMessageW(&msg);
    return 0;
}
