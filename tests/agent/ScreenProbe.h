// Reading the OSD from outside the agent: its window (class "csl_osd") and the screen's
// pixels where it is expected.
#pragma once

#include <windows.h>

namespace screenprobe {

// The agent's OSD window (class "csl_osd" of the given process), or NULL.
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

constexpr COLORREF kHighlight = RGB(0, 118, 215);
constexpr COLORREF kPlainCell = RGB(22, 22, 22);

}  // namespace screenprobe
