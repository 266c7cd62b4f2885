// glimscreen: looks at the screen for the demo and scripts: the agent's OSD (where it is,
// which cell is highlighted, a capture of its pixels as a BMP file, and when it hides),
// whether a window with a given title exists, and closing a program by its window; and
// for the automatic rules, a window covering the primary monitor and a touch of input.
// Exit code 0 when the command did what it says, 1 when it did not, 2 for a usage error.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <vector>

#include "ScreenProbe.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

int Usage()
{
    wprintf(L"usage: glimscreen COMMAND [--wait MS] (MS: how long to wait, default 5000)\n"
            L"  osd [--bmp FILE] [--follow]  wait for a visible OSD window, print its place and the\n"
            L"                               highlighted cell; --bmp saves its pixels from the screen\n"
            L"                               as a 24-bit BMP; --follow then waits until it hides\n"
            L"  window TITLE                 wait for a top-level window with this title\n"
            L"  close TITLE                  close that window (WM_CLOSE) and wait for its program to end\n"
            L"  cover TITLE                  show a topmost window with this title covering the primary\n"
            L"                               monitor in the foreground for MS, then close it\n"
            L"  input                        move the mouse by one pixel (SendInput)\n");
    return kExitUsage;
}

struct SOptions {
    DWORD dwWaitMs = 5000;
    const wchar_t* pszBmp = nullptr;
    bool bFollow = false;
};

bool ParseOptions(int argc, wchar_t** argv, int nFirst, SOptions* pOptions)
{
    for (int i = nFirst; i < argc; ++i) {
        if (wcscmp(argv[i], L"--wait") == 0 && i + 1 < argc)
            pOptions->dwWaitMs = static_cast<DWORD>(_wtoi(argv[++i]));
        else if (wcscmp(argv[i], L"--bmp") == 0 && i + 1 < argc)
            pOptions->pszBmp = argv[++i];
        else if (wcscmp(argv[i], L"--follow") == 0)
            pOptions->bFollow = true;
        else
            return false;
    }
    return true;
}

HWND VisibleOsd()
{
    HWND hOsd = glimtest::FindOsd(0);
    return hOsd && IsWindowVisible(hOsd) ? hOsd : nullptr;
}

// Waits until pred() holds or the time is up, checking every 20 ms.
template <typename Pred>
bool WaitFor(Pred pred, DWORD dwTimeoutMs)
{
    const ULONGLONG ullEnd = GetTickCount64() + dwTimeoutMs;
    for (;;) {
        if (pred())
            return true;
        if (GetTickCount64() >= ullEnd)
            return false;
        Sleep(20);
    }
}

// Copies the screen rectangle into a bottom-up 24-bit BMP file.
bool SaveScreenBmp(const RECT& rc, const wchar_t* pszPath)
{
    const int nWidth = rc.right - rc.left;
    const int nHeight = rc.bottom - rc.top;
    const DWORD cbRow = static_cast<DWORD>((nWidth * 3 + 3) & ~3);
    BITMAPINFOHEADER bih = {};
    bih.biSize = sizeof(bih);
    bih.biWidth = nWidth;
    bih.biHeight = nHeight;
    bih.biPlanes = 1;
    bih.biBitCount = 24;
    bih.biCompression = BI_RGB;
    bih.biSizeImage = cbRow * nHeight;
    std::vector<BYTE> pixels(bih.biSizeImage);

    HDC hdcScreen = GetDC(nullptr);
    HDC hdcMem = CreateCompatibleDC(hdcScreen);
    HBITMAP hBitmap = CreateCompatibleBitmap(hdcScreen, nWidth, nHeight);
    bool bOk = hdcMem && hBitmap;
    if (bOk) {
        HGDIOBJ hOld = SelectObject(hdcMem, hBitmap);
        bOk = BitBlt(hdcMem, 0, 0, nWidth, nHeight, hdcScreen, rc.left, rc.top, SRCCOPY) != FALSE;
        SelectObject(hdcMem, hOld);
        bOk = bOk &&
            GetDIBits(hdcMem, hBitmap, 0, nHeight, pixels.data(), reinterpret_cast<BITMAPINFO*>(&bih),
                      DIB_RGB_COLORS) == nHeight;
    }
    if (hBitmap)
        DeleteObject(hBitmap);
    if (hdcMem)
        DeleteDC(hdcMem);
    ReleaseDC(nullptr, hdcScreen);
    if (!bOk)
        return false;

    BITMAPFILEHEADER bfh = {};
    bfh.bfType = 0x4D42;  // "BM"
    bfh.bfOffBits = sizeof(bfh) + sizeof(bih);
    bfh.bfSize = bfh.bfOffBits + bih.biSizeImage;
    HANDLE hFile = CreateFileW(pszPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    DWORD cb = 0;
    bOk = WriteFile(hFile, &bfh, sizeof(bfh), &cb, nullptr) && WriteFile(hFile, &bih, sizeof(bih), &cb, nullptr) &&
        WriteFile(hFile, pixels.data(), bih.biSizeImage, &cb, nullptr);
    CloseHandle(hFile);
    return bOk;
}

int ShowOsd(const SOptions& options)
{
    HWND hOsd = nullptr;
    if (!WaitFor([&] { return (hOsd = VisibleOsd()) != nullptr; }, options.dwWaitMs)) {
        wprintf(L"No OSD on the screen within %lu ms.\n", options.dwWaitMs);
        return kExitFailed;
    }
    const ULONGLONG ullSeen = GetTickCount64();
    // Give the window a moment to paint after it came up.
    WaitFor([] { return glimtest::HighlightedCell() >= 0; }, 1000);
    RECT rc = {};
    GetWindowRect(hOsd, &rc);
    const RECT rcMonitor = glimtest::PrimaryMonitor();
    const RECT rcExpected = glimtest::ExpectedOsdRect();
    static const wchar_t* const kCells[] = {L"Off (left)", L"On (middle)", L"Auto (right)"};
    const int nCell = glimtest::HighlightedCell();
    wprintf(L"OSD shown at (%ld, %ld), %ld x %ld, on a %ld x %ld primary monitor: %ls.\n", rc.left, rc.top,
            rc.right - rc.left, rc.bottom - rc.top, rcMonitor.right - rcMonitor.left, rcMonitor.bottom - rcMonitor.top,
            EqualRect(&rc, &rcExpected) ? L"centred, 110 px above the bottom edge" : L"NOT where it belongs");
    wprintf(L"Highlighted cell: %ls.\n", nCell >= 0 ? kCells[nCell] : L"none");
    if (options.pszBmp) {
        if (!SaveScreenBmp(rc, options.pszBmp)) {
            wprintf(L"Could not save the OSD's pixels to %ls (error %lu).\n", options.pszBmp, GetLastError());
            return kExitFailed;
        }
        wprintf(L"OSD pixels saved to %ls.\n", options.pszBmp);
    }
    if (options.bFollow) {
        if (!WaitFor([] { return VisibleOsd() == nullptr; }, 10000)) {
            wprintf(L"The OSD was still up 10 s later.\n");
            return kExitFailed;
        }
        wprintf(L"The OSD hid %llu ms after it was first seen.\n", GetTickCount64() - ullSeen);
    }
    return kExitOk;
}

HWND WaitForWindow(const wchar_t* pszTitle, DWORD dwWaitMs)
{
    HWND hWnd = nullptr;
    WaitFor([&] { return (hWnd = FindWindowW(nullptr, pszTitle)) != nullptr; }, dwWaitMs);
    return hWnd;
}

int ShowWindowOf(const wchar_t* pszTitle, const SOptions& options)
{
    HWND hWnd = WaitForWindow(pszTitle, options.dwWaitMs);
    if (!hWnd) {
        wprintf(L"No window titled \"%ls\" within %lu ms.\n", pszTitle, options.dwWaitMs);
        return kExitFailed;
    }
    DWORD dwPid = 0;
    GetWindowThreadProcessId(hWnd, &dwPid);
    wprintf(L"Window \"%ls\" is there (process %lu).\n", pszTitle, dwPid);
    return kExitOk;
}

int CloseWindowOf(const wchar_t* pszTitle, const SOptions& options)
{
    HWND hWnd = FindWindowW(nullptr, pszTitle);
    if (!hWnd) {
        wprintf(L"No window titled \"%ls\": nothing to close.\n", pszTitle);
        return kExitOk;
    }
    DWORD dwPid = 0;
    GetWindowThreadProcessId(hWnd, &dwPid);
    HANDLE hProcess = OpenProcess(SYNCHRONIZE, FALSE, dwPid);
    PostMessageW(hWnd, WM_CLOSE, 0, 0);
    const bool bEnded = hProcess && WaitForSingleObject(hProcess, options.dwWaitMs) == WAIT_OBJECT_0;
    if (hProcess)
        CloseHandle(hProcess);
    wprintf(bEnded ? L"Closed \"%ls\"; its program (process %lu) has ended.\n"
                   : L"Asked \"%ls\" to close, but its program (process %lu) did not end.\n",
            pszTitle, dwPid);
    return bEnded ? kExitOk : kExitFailed;
}

// Keeps a window over the whole primary monitor in the foreground for the given time,
// serving its messages meanwhile.
int CoverScreen(const wchar_t* pszTitle, const SOptions& options)
{
    const RECT rc = glimtest::PrimaryMonitor();
    HWND hWnd = CreateWindowExW(WS_EX_TOPMOST, L"STATIC", pszTitle, WS_POPUP | WS_VISIBLE, rc.left, rc.top,
                                rc.right - rc.left, rc.bottom - rc.top, nullptr, nullptr, nullptr, nullptr);
    if (!hWnd) {
        wprintf(L"Could not create the window (error %lu).\n", GetLastError());
        return kExitFailed;
    }
    SetForegroundWindow(hWnd);
    const bool bForeground = GetForegroundWindow() == hWnd;
    wprintf(L"Window \"%ls\" covers the %ld x %ld primary monitor%ls for %lu ms.\n", pszTitle, rc.right - rc.left,
            rc.bottom - rc.top, bForeground ? L" in the foreground" : L" (NOT in the foreground)", options.dwWaitMs);
    fflush(stdout);
    const ULONGLONG ullEnd = GetTickCount64() + options.dwWaitMs;
    for (ULONGLONG ullNow = GetTickCount64(); ullNow < ullEnd; ullNow = GetTickCount64()) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(ullEnd - ullNow), QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
    }
    DestroyWindow(hWnd);
    wprintf(L"Window \"%ls\" closed.\n", pszTitle);
    return bForeground ? kExitOk : kExitFailed;
}

int SendMouseMove()
{
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = MOUSEEVENTF_MOVE;
    input.mi.dx = 1;
    if (SendInput(1, &input, sizeof(input)) != 1) {
        wprintf(L"SendInput failed (error %lu).\n", GetLastError());
        return kExitFailed;
    }
    wprintf(L"Mouse moved.\n");
    return kExitOk;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return Usage();
    // Screen coordinates in device pixels, as the OSD places itself.
    SetProcessDPIAware();
    SOptions options;
    const bool bTitled =
        wcscmp(argv[1], L"window") == 0 || wcscmp(argv[1], L"close") == 0 || wcscmp(argv[1], L"cover") == 0;
    if (bTitled && (argc < 3 || !ParseOptions(argc, argv, 3, &options) || options.pszBmp || options.bFollow))
        return Usage();
    if (wcscmp(argv[1], L"window") == 0)
        return ShowWindowOf(argv[2], options);
    if (wcscmp(argv[1], L"close") == 0)
        return CloseWindowOf(argv[2], options);
    if (wcscmp(argv[1], L"cover") == 0)
        return CoverScreen(argv[2], options);
    if (wcscmp(argv[1], L"input") == 0 && argc == 2)
        return SendMouseMove();
    if (wcscmp(argv[1], L"osd") == 0 && ParseOptions(argc, argv, 2, &options))
        return ShowOsd(options);
    return Usage();
}
