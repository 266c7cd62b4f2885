#include "OSDWindow.h"

#include "GlimLog.h"
#include "MainThread.h"
#include "ScopedHandle.h"
#include "Timer.h"
#include "resources/resource.h"

namespace {
// One OSD per process, used only on the UI thread.
OSDWindow* g_pOSD = nullptr;
glim::CScopedBitmap g_hCurrentImage;
// Hides the window kHideAfterMs after the latest show.
agent::CTimer g_hideTimer([] {
    if (g_pOSD && g_pOSD->GetHwnd())
        ShowWindow(g_pOSD->GetHwnd(), SW_HIDE);
});
}  // namespace

POINT osd::PlaceOnMonitor(const RECT& rcMonitor, int nWidth, int nHeight)
{
    const int nMonitorWidth = rcMonitor.right - rcMonitor.left;
    const int nMonitorHeight = rcMonitor.bottom - rcMonitor.top;
    POINT pt;
    pt.x = rcMonitor.left + (nMonitorWidth - nWidth) / 2;
    pt.y = rcMonitor.top + nMonitorHeight - nHeight - kBottomMargin;
    return pt;
}

UINT osd::BitmapIdForStatus(int nStatus)
{
    switch (nStatus) {
    case 0: return IDB_OSD_OFF;
    case 1: return IDB_OSD_ON;
    case 2: return IDB_OSD_AUTO;
    default: return 0;
    }
}

OSDWindow::OSDWindow(HINSTANCE hInstance, int nWidth, int nHeight)
    : m_hWnd(nullptr)
    , m_hInstance(hInstance)
    , m_nHeight(nHeight)
    , m_nWidth(nWidth)
{
    g_pOSD = this;
}

OSDWindow::~OSDWindow()
{
    if (g_pOSD == this)
        g_pOSD = nullptr;
}

bool OSDWindow::Create(HINSTANCE hInstance)
{
    static const wchar_t kLabel[] = L"OSDWindow::Create";
    GLIM_ASSERT_MAIN_THREAD(kLabel);
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = &OSDWindow::WndProc;
    wc.hInstance = hInstance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = osd::kClassName;
    RegisterClassExW(&wc);  // a failure shows up as a failed creation below

    m_hWnd = CreateWindowExW(osd::kExStyle, osd::kClassName, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, hInstance,
                             nullptr);
    if (!m_hWnd) {
        GLIM_LOG('E', kLabel, L"Failed to Create OSD!");
        return false;
    }
    // Placement during WM_CREATE made the window visible.
    ShowWindow(m_hWnd, SW_HIDE);
    return true;
}

void OSDWindow::LoadImageForStatus(int nStatus)
{
    const UINT nId = osd::BitmapIdForStatus(nStatus);
    if (nId == 0 || !g_pOSD)
        return;
    g_hCurrentImage.Reset(static_cast<HBITMAP>(
        LoadImageW(g_pOSD->m_hInstance, MAKEINTRESOURCEW(nId), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR)));
}

void OSDWindow::Show(int nStatus)
{
    GLIM_ASSERT_MAIN_THREAD(L"OSDWindow::Show");
    LoadImageForStatus(nStatus);
    if (!m_hWnd)
        return;
    UpdatePosition(m_hWnd);
    ShowWindow(m_hWnd, SW_SHOW);
    InvalidateRect(m_hWnd, nullptr, TRUE);
    g_hideTimer.Start(osd::kHideAfterMs);
}

void OSDWindow::Destroy()
{
    GLIM_ASSERT_MAIN_THREAD(L"OSDWindow::Destroy");
    if (m_hWnd) {
        g_hideTimer.Cancel();
        DestroyWindow(m_hWnd);
        m_hWnd = nullptr;
    }
}

void OSDWindow::UpdatePosition(HWND hWnd)
{
    const POINT ptOrigin = {0, 0};
    MONITORINFO mi = {};
    mi.cbSize = sizeof(mi);
    if (!GetMonitorInfoW(MonitorFromPoint(ptOrigin, MONITOR_DEFAULTTOPRIMARY), &mi))
        return;
    const int nWidth = g_pOSD ? g_pOSD->m_nWidth : osd::kWidth;
    const int nHeight = g_pOSD ? g_pOSD->m_nHeight : osd::kHeight;
    const POINT pt = osd::PlaceOnMonitor(mi.rcMonitor, nWidth, nHeight);
    SetWindowPos(hWnd, HWND_TOPMOST, pt.x, pt.y, nWidth, nHeight, SWP_SHOWWINDOW);
}

void OSDWindow::Paint(HWND hWnd)
{
    PAINTSTRUCT ps;
    HDC hdc = BeginPaint(hWnd, &ps);
    RECT rc;
    GetClientRect(hWnd, &rc);
    FillRect(hdc, &rc, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    if (g_hCurrentImage) {
        const glim::CScopedMemoryDc hdcMem(CreateCompatibleDC(hdc));
        if (hdcMem) {
            HGDIOBJ hOld = SelectObject(hdcMem.Get(), g_hCurrentImage.Get());
            BITMAP bm = {};
            GetObjectW(g_hCurrentImage.Get(), sizeof(bm), &bm);
            BitBlt(hdc, 0, 0, bm.bmWidth, bm.bmHeight, hdcMem.Get(), 0, 0, SRCCOPY);
            SelectObject(hdcMem.Get(), hOld);  // the bitmap leaves the DC before the DC goes
        }
    }
    EndPaint(hWnd, &ps);
}

LRESULT CALLBACK OSDWindow::WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_CREATE:
        // Sizes are device pixels: the OSD does not scale with the display's DPI.
        SetProcessDPIAware();
        SetLayeredWindowAttributes(hWnd, RGB(0, 0, 0), 0, LWA_COLORKEY);
        UpdatePosition(hWnd);
        return 0;
    case WM_PAINT: Paint(hWnd); return 0;
    case WM_ERASEBKGND: return 1;
    case WM_COMMAND: return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcW(hWnd, uMsg, wParam, lParam);
    }
}
