#include <gtest/gtest.h>

#include "AgentProcess.h"
#include "ScreenProbe.h"

namespace screenprobe {

::testing::AssertionResult OsdShows(DWORD dwPid, int nCell, DWORD dwTimeoutMs)
{
    if (agenttest::WaitUntil([&] { return OsdVisible(dwPid) && HighlightedCell() == nCell; }, dwTimeoutMs))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "OSD visible " << OsdVisible(dwPid) << ", highlighted cell "
                                         << HighlightedCell() << ", wanted " << nCell;
}

}  // namespace screenprobe
