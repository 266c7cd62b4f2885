#include <gtest/gtest.h>

#include "AgentProcess.h"
#include "ScreenProbe.h"

namespace glimtest {

::testing::AssertionResult OsdShows(DWORD dwPid, int nCell, DWORD dwTimeoutMs)
{
    if (glimtest::WaitUntil([&] { return OsdVisible(dwPid) && HighlightedCell() == nCell; }, dwTimeoutMs))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "OSD visible " << OsdVisible(dwPid) << ", highlighted cell "
                                         << HighlightedCell() << ", wanted " << nCell;
}

::testing::AssertionResult OsdAtItsPlace(DWORD dwPid)
{
    RECT rc = {};
    if (!GetWindowRect(FindOsd(dwPid), &rc))
        return ::testing::AssertionFailure() << "no OSD window, error " << GetLastError();
    const RECT expected = ExpectedOsdRect();
    if (rc.left == expected.left && rc.top == expected.top && rc.right - rc.left == 288 && rc.bottom - rc.top == 96)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "OSD at (" << rc.left << ", " << rc.top << ") sized " << rc.right - rc.left
                                         << " x " << rc.bottom - rc.top << ", wanted (" << expected.left << ", "
                                         << expected.top << ") sized 288 x 96";
}

}  // namespace glimtest
