#include "SimDriverChecks.h"

#include "Absence.h"
#include "AgentProcess.h"
#include "SimDriver.h"

namespace glimtest {

using namespace simkb;

std::vector<long> SetLevels()
{
    std::vector<long> levels;
    for (const SimRecord& record : SetRequests())
        levels.push_back(record.lLevel);
    return levels;
}

LONG DriverLevel()
{
    LONG lLevel = -1;
    EXPECT_TRUE(Level(&lLevel)) << "the driver's level could not be read";
    return lLevel;
}

ULONG RequestTotal()
{
    SHistory history;
    EXPECT_TRUE(History(&history)) << "the driver's history could not be read";
    return history.header.ulTotal;
}

::testing::AssertionResult LevelsAre(const std::vector<long>& expected, DWORD dwTimeoutMs)
{
    glimtest::WaitUntil([&] { return SetLevels().size() >= expected.size(); }, dwTimeoutMs);
    // No more than these: a short settle for a listener or the service, then the sentinel of
    // the agent's main thread (which sends the agent's levels) being past what it handled.
    glimtest::WaitUntil([] { return false; }, 300);
    if (HWND hAgent = FindAgentWindow()) {
        if (!WindowThreadPassed(hAgent, dwTimeoutMs))
            return ::testing::AssertionFailure()
                << "the agent's main window did not answer within " << dwTimeoutMs << " ms";
    }
    const std::vector<long> actual = SetLevels();
    if (actual == expected)
        return ::testing::AssertionSuccess();
    auto failure = ::testing::AssertionFailure() << "set requests:";
    for (long l : actual)
        failure << " " << l;
    failure << "; wanted:";
    for (long l : expected)
        failure << " " << l;
    return failure;
}

}  // namespace glimtest
