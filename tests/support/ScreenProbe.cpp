#include "ScreenProbe.h"

namespace glimtest {

HWND FindWindowWhere(DWORD dwPid, const std::function<bool(HWND)>& match)
{
    struct SFind {
        DWORD dwPid;
        const std::function<bool(HWND)>& match;
        HWND hFound;
    } find = {dwPid, match, nullptr};
    EnumWindows(
        [](HWND hWnd, LPARAM lParam) -> BOOL {
            auto* pFind = reinterpret_cast<SFind*>(lParam);
            DWORD dwPid = 0;
            GetWindowThreadProcessId(hWnd, &dwPid);
            if ((pFind->dwPid != 0 && dwPid != pFind->dwPid) || !pFind->match(hWnd))
                return TRUE;
            pFind->hFound = hWnd;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&find));
    return find.hFound;
}

HWND FindWindowOfClass(DWORD dwPid, const wchar_t* pszClass)
{
    return FindWindowWhere(dwPid, [&](HWND hWnd) {
        wchar_t szClass[64] = {};
        GetClassNameW(hWnd, szClass, 64);
        return lstrcmpW(szClass, pszClass) == 0;
    });
}

HWND FindOsd(DWORD dwPid)
{
    return FindWindowOfClass(dwPid, L"csl_osd");
}

RECT PrimaryMonitor()
{
    MONITORINFO mi = {};
    mi.cbSize = sizeof(mi);
    GetMonitorInfoW(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &mi);
    return mi.rcMonitor;
}

RECT ExpectedOsdRect()
{
    const RECT rc = PrimaryMonitor();
    // Computed independently of the agent's code: centred, bottom edge 110 px up.
    const int x = rc.left + ((rc.right - rc.left) - 288) / 2;
    const int y = rc.bottom - 110 - 96;
    return RECT{x, y, x + 288, y + 96};
}

COLORREF ScreenPixel(int x, int y)
{
    HDC hdc = GetDC(nullptr);
    const COLORREF c = GetPixel(hdc, x, y);
    ReleaseDC(nullptr, hdc);
    return c;
}

int HighlightedCell()
{
    const RECT rc = ExpectedOsdRect();
    int nCell = -1;
    for (int i = 0; i < 3; ++i) {
        // A corner of the cell: background only, no line art.
        const COLORREF c = ScreenPixel(rc.left + i * 96 + 4, rc.top + 4);
        if (c == kHighlight) {
            if (nCell != -1)
                return -1;
            nCell = i;
        } else if (c != kPlainCell) {
            return -1;
        }
    }
    return nCell;
}

bool OsdVisible(DWORD dwPid)
{
    HWND hOsd = FindOsd(dwPid);
    return hOsd && IsWindowVisible(hOsd);
}

}  // namespace glimtest
