// Reading the OSD from outside the agent: its window (class "csl_osd") and the screen's
// pixels where it is expected.
#pragma once

#include <windows.h>

#include <functional>

namespace testing {
class AssertionResult;
}

namespace glimtest {

// The first top-level window of the given process (any process for 0) that match accepts,
// or NULL.
HWND FindWindowWhere(DWORD dwPid, const std::function<bool(HWND)>& match);
// The first top-level window of the class in the given process (any process for 0), or
// NULL.
HWND FindWindowOfClass(DWORD dwPid, const wchar_t* pszClass);
// The agent's OSD window (class "csl_osd" of the given process, of any process for 0),
// or NULL.
HWND FindOsd(DWORD dwPid);
// The primary monitor's full rectangle.
RECT PrimaryMonitor();
// Where the OSD belongs on this machine's primary monitor.
RECT ExpectedOsdRect();
// The screen pixel as RGB.
COLORREF ScreenPixel(int x, int y);
// Which of the three cells (0 off, 1 on, 2 auto) shows the highlight colour at the OSD's
// expected place; -1 when not exactly one does.
int HighlightedCell();

// True when the process's OSD window exists and is visible.
bool OsdVisible(DWORD dwPid);
// For tests (ScreenAssert.cpp, GoogleTest): waits until the process's OSD is visible and
// exactly the given cell is highlighted on screen at the OSD's expected place.
::testing::AssertionResult OsdShows(DWORD dwPid, int nCell, DWORD dwTimeoutMs = 5000);
// The process's OSD window is 288 x 96 at its expected place.
::testing::AssertionResult OsdAtItsPlace(DWORD dwPid);

constexpr COLORREF kHighlight = RGB(0, 118, 215);
constexpr COLORREF kPlainCell = RGB(22, 22, 22);

}  // namespace glimtest
