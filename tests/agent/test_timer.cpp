// The agent's self-owning timer on this thread's real message loop: it calls back once per
// start and is disarmed once it did, a restart replaces the pending call, a cancelled or
// destroyed timer never calls back, and a callback may start its own timer again. Each
// absence is checked after a later timer has fired.
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <memory>

#include "Absence.h"
#include "Timer.h"
#include "Wait.h"

using agent::CTimer;

namespace {

constexpr UINT kShortMs = 50;
constexpr UINT kSentinelMs = 400;  // well after every timer a case starts
constexpr DWORD kWaitMs = 10000;

struct STimerCase {
    const char* pszName;
    // Starts what the case needs; the timer under test counts its calls in nCalls.
    std::function<void(std::unique_ptr<CTimer>& timer, int& nCalls)> act;
    int nExpectedCalls;
};

TEST(Timer, CallsBackOncePerStartUntilCancelledOrGone)
{
    const STimerCase cases[] = {
        {"started", [](std::unique_ptr<CTimer>& timer, int&) { ASSERT_TRUE(timer->Start(kShortMs)); }, 1},
        {"restarted before it fired",
         [](std::unique_ptr<CTimer>& timer, int&) {
             ASSERT_TRUE(timer->Start(kShortMs));
             ASSERT_TRUE(timer->Start(kShortMs));
         },
         1},
        {"cancelled",
         [](std::unique_ptr<CTimer>& timer, int&) {
             ASSERT_TRUE(timer->Start(kShortMs));
             timer->Cancel();
             EXPECT_FALSE(timer->IsRunning());
         },
         0},
        {"destroyed",
         [](std::unique_ptr<CTimer>& timer, int&) {
             ASSERT_TRUE(timer->Start(kShortMs));
             timer.reset();
         },
         0},
        {"started again from its own callback",
         [](std::unique_ptr<CTimer>& timer, int& nCalls) {
             timer = std::make_unique<CTimer>([&nCalls, &timer] {
                 if (++nCalls == 1)
                     timer->Start(kShortMs);
             });
             ASSERT_TRUE(timer->Start(kShortMs));
         },
         2},
    };
    for (const STimerCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        int nCalls = 0;
        auto timer = std::make_unique<CTimer>([&nCalls] { ++nCalls; });
        ASSERT_NO_FATAL_FAILURE(c.act(timer, nCalls));
        bool bSentinel = false;
        CTimer sentinel([&bSentinel] { bSentinel = true; });
        ASSERT_TRUE(sentinel.Start(kSentinelMs));
        EXPECT_TRUE(glimtest::NothingUntil([&] { return nCalls > c.nExpectedCalls; }, [&] { return bSentinel; },
                                           "a later timer", kWaitMs));
        EXPECT_EQ(c.nExpectedCalls, nCalls);
        EXPECT_FALSE(timer && timer->IsRunning()) << "a one-shot timer is disarmed once it called back";
    }
}

TEST(Timer, RepeatingTimerCallsBackUntilCancelled)
{
    int nCalls = 0;
    CTimer timer([&nCalls] { ++nCalls; }, CTimer::Repeat::Every);
    ASSERT_TRUE(timer.Start(kShortMs));
    ASSERT_TRUE(glimtest::WaitUntil([&] { return nCalls >= 3; }, kWaitMs));
    EXPECT_TRUE(timer.IsRunning());
    timer.Cancel();
    const int nAtCancel = nCalls;
    bool bSentinel = false;
    CTimer sentinel([&bSentinel] { bSentinel = true; });
    ASSERT_TRUE(sentinel.Start(kSentinelMs));
    EXPECT_TRUE(glimtest::NothingUntil([&] { return nCalls != nAtCancel; }, [&] { return bSentinel; }, "a later timer",
                                       kWaitMs));
}

}  // namespace
