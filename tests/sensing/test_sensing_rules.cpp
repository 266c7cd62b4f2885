// The pure rules behind the automatic policies: ambient bands at every boundary, the
// InActiveTime parsing, the idle verdict with the tick wrap, the title-scope match and
// the covering test.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "SensingRules.h"

using namespace glim;

namespace {
const wchar_t kMin[] = L"\x5206";
const wchar_t kSec[] = L"\x79D2";
std::wstring W(const wchar_t* a, const wchar_t* b = L"", const wchar_t* c = L"", const wchar_t* d = L"")
{
    return std::wstring(a) + b + c + d;
}
}  // namespace

TEST(AmbientBand, DefaultThresholdsAtEveryBoundary)
{
    struct {
        float fLux;
        int nBand;
    } cases[] = {
        {0.0f, 1},   {4.0f, 1},    {5.0f, 2},     {60.0f, 2},    {61.0f, 3},    {799.0f, 3},
        {800.0f, 4}, {9999.0f, 4}, {10000.0f, 5}, {29999.0f, 5}, {30000.0f, 6}, {1e9f, 6},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.nBand, AmbientBand(c.fLux, 5, 60)) << "lux " << c.fLux;
}

TEST(AmbientBand, FractionsBetweenThresholdsUseFloatComparisons)
{
    EXPECT_EQ(1, AmbientBand(4.99f, 5, 60));
    EXPECT_EQ(3, AmbientBand(60.5f, 5, 60));
    EXPECT_EQ(3, AmbientBand(799.99f, 5, 60));
}

TEST(AmbientBand, ZeroThresholdsNeverMatchDarkOrDimForPositiveLux)
{
    EXPECT_EQ(2, AmbientBand(0.0f, 0, 0)) << "0 is not below 0 but is at most 0";
    EXPECT_EQ(3, AmbientBand(1.0f, 0, 0));
    EXPECT_EQ(3, AmbientBand(4.0f, 0, 0));
    EXPECT_EQ(4, AmbientBand(800.0f, 0, 0));
}

TEST(AmbientBandLevel, DarkGivesUserLevelDimGivesTenBrightAndNoneGiveZero)
{
    EXPECT_EQ(7, AmbientBandLevel(1, 7));
    EXPECT_EQ(10, AmbientBandLevel(2, 7));
    for (int nBand : {0, 3, 4, 5, 6, 7, -1})
        EXPECT_EQ(0, AmbientBandLevel(nBand, 7)) << "band " << nBand;
}

TEST(LuxToWParam, TruncatesTowardZero)
{
    EXPECT_EQ(99u, LuxToWParam(99.9f));
    EXPECT_EQ(200u, LuxToWParam(200.0f));
    EXPECT_EQ(0u, LuxToWParam(0.4f));
    EXPECT_EQ(0u, LuxToWParam(-1.0f));
    EXPECT_EQ(0u, LuxToWParam(std::numeric_limits<float>::quiet_NaN()));
    EXPECT_EQ(100000u, LuxToWParam(100000.0f));
}

// Check numbers never come back to 0, which names no check; a verdict counts only for the
// running check, or when it names none.
TEST(FullScreenCheckNumber, NeverZeroAndOnlyTheRunningCheckCounts)
{
    EXPECT_EQ(1u, NextFullScreenCheck(0));
    EXPECT_EQ(1u, NextFullScreenCheck(0xFFFFFFFFu));
    EXPECT_TRUE(IsVerdictOfRunningCheck(7, true, 7));
    EXPECT_FALSE(IsVerdictOfRunningCheck(7, false, 7)) << "stopped";
    EXPECT_FALSE(IsVerdictOfRunningCheck(6, true, 7)) << "started again";
    EXPECT_TRUE(IsVerdictOfRunningCheck(0, false, 7)) << "names no check";
    EXPECT_TRUE(IsVerdictOfRunningCheck(static_cast<LPARAM>(0xFFFFFFFFu), true, 0xFFFFFFFFu));
}

TEST(ParseInActiveTime, MinutesAndSeconds)
{
    EXPECT_EQ(300, ParseInActiveTime(W(L"5", kMin).c_str()));
    EXPECT_EQ(30, ParseInActiveTime(W(L"30", kSec).c_str()));
    EXPECT_EQ(2, ParseInActiveTime(W(L"2", kSec).c_str()));
    // The minutes step cuts the last character and converts the leading 1; "秒" is gone.
    EXPECT_EQ(60, ParseInActiveTime(W(L"1", kMin, L"30", kSec).c_str()));
    EXPECT_EQ(300, ParseInActiveTime(W(L" 5", kMin).c_str()));
    EXPECT_EQ(300, ParseInActiveTime(W(L"+5", kMin).c_str()));
}

TEST(ParseInActiveTime, AnythingElseTurnsTrackingOff)
{
    EXPECT_EQ(0, ParseInActiveTime(L"\x306A\x3057"));  // "なし"
    EXPECT_EQ(0, ParseInActiveTime(L""));
    EXPECT_EQ(0, ParseInActiveTime(nullptr));
    EXPECT_EQ(0, ParseInActiveTime(L"5"));
    EXPECT_EQ(0, ParseInActiveTime(L"300"));
    EXPECT_EQ(0, ParseInActiveTime(kMin));
    EXPECT_EQ(0, ParseInActiveTime(kSec));
    EXPECT_EQ(0, ParseInActiveTime(W(L"x", kMin).c_str()));
    EXPECT_EQ(0, ParseInActiveTime(L"2?")) << "what an ANSI settings file makes of 2秒";
}

TEST(ParseInActiveTime, NumbersOutsideThirtyTwoBitsAreRejected)
{
    EXPECT_EQ(2147483647, ParseInActiveTime(W(L"2147483647", kSec).c_str()));
    EXPECT_EQ(0, ParseInActiveTime(W(L"2147483648", kSec).c_str()));
    EXPECT_EQ(0, ParseInActiveTime(W(L"99999999999999999999", kSec).c_str()));
    EXPECT_EQ(35791394 * 60, ParseInActiveTime(W(L"35791394", kMin).c_str()));
    EXPECT_EQ(0, ParseInActiveTime(W(L"35791395", kMin).c_str())) << "minutes times 60 overflows";
    EXPECT_GT(0, ParseInActiveTime(W(L"-5", kMin).c_str())) << "negative stays negative: no timer";
}

TEST(InActiveThresholdMs, ExactUpToTheLimitThenClamped)
{
    EXPECT_EQ(0u, InActiveThresholdMs(0));
    EXPECT_EQ(0u, InActiveThresholdMs(-3));
    EXPECT_EQ(300000u, InActiveThresholdMs(300));
    EXPECT_EQ(4294967000u, InActiveThresholdMs(4294967));
    EXPECT_EQ(0xFFFFFFFFu, InActiveThresholdMs(4294968)) << "must not wrap to a 704 ms threshold";
    EXPECT_EQ(0xFFFFFFFFu, InActiveThresholdMs(2147483647));
}

TEST(JudgeIdle, ThresholdIsInclusiveAndActiveWindowIs1500Ms)
{
    const DWORD dwLast = 100000;
    EXPECT_EQ(IdleVerdict::Inactive, JudgeIdle(dwLast + 30000, dwLast, 30000));
    EXPECT_EQ(IdleVerdict::None, JudgeIdle(dwLast + 29999, dwLast, 30000));
    EXPECT_EQ(IdleVerdict::Active, JudgeIdle(dwLast + 1500, dwLast, 30000));
    EXPECT_EQ(IdleVerdict::None, JudgeIdle(dwLast + 1501, dwLast, 30000));
    EXPECT_EQ(IdleVerdict::Active, JudgeIdle(dwLast, dwLast, 30000));
    // Both rules hold: the idle verdict wins.
    EXPECT_EQ(IdleVerdict::Inactive, JudgeIdle(dwLast + 1200, dwLast, 1000));
}

TEST(JudgeIdle, TickWrapGivesTheTrueIdleTime)
{
    EXPECT_EQ(IdleVerdict::Active, JudgeIdle(0x00000100u, 0xFFFFFC00u, 30000)) << "1280 ms across the wrap";
    EXPECT_EQ(IdleVerdict::Inactive, JudgeIdle(0x00007530u, 0xFFFFFFF0u, 30000)) << "30016 ms across the wrap";
    EXPECT_EQ(IdleVerdict::None, JudgeIdle(0x00001000u, 0xFFFFFF00u, 30000)) << "4352 ms across the wrap";
    EXPECT_EQ(IdleVerdict::None, JudgeIdle(0x00007510u, 0xFFFFFFF0u, 30000)) << "29984 ms across the wrap";
}

// The later tick is the one nearer to now, on either side of the counter's wrap.
TEST(LaterTick, KeepsTheTickNearerToNowAcrossTheWrap)
{
    struct {
        DWORD dwNow, dwA, dwB, dwLater;
        const char* pszWhy;
    } cases[] = {
        {1000, 5, 7, 7, "no wrap"},
        {0x80000010u, 0x80000000u, 5, 0x80000000u, "no wrap, high bit set"},
        {900, 0, 700, 700, "the newer of two small ticks"},
        {0x000000C8u, 0xF0000000u, 0x00000000u, 0x00000000u, "input just after the wrap beats a press before it"},
        {0x000000C8u, 0x00000000u, 0xF0000000u, 0x00000000u, "the same, arguments swapped"},
        {0x00000100u, 0xFFFFFF00u, 0xFFFFFFF0u, 0xFFFFFFF0u, "both before the wrap, now after it"},
        {0xFFFFFFF0u, 0xFFFFFF00u, 0x7FFFFFFFu, 0xFFFFFF00u, "both before the wrap, now before it"},
        {0x10000000u, 0x0FFFFF38u, 0x0FFFFF38u, 0x0FFFFF38u, "the same tick"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.dwLater, LaterTick(c.dwNow, c.dwA, c.dwB)) << c.pszWhy;
}

// A press noted before the wrap must not outweigh typing after it: the user who typed
// 200 ms ago is active, not idle for the next 46 days.
TEST(LaterTick, TypingAfterTheWrapIsActivityWhateverThePressBeforeIt)
{
    const DWORD dwPress = 0xF0000000u;
    for (DWORD dwNow : {0x00000000u + 200, 0x00100000u, 0x60000000u, 0xE0000000u}) {
        const DWORD dwInput = dwNow - 200;
        EXPECT_EQ(IdleVerdict::Active, JudgeIdle(dwNow, LaterTick(dwNow, dwPress, dwInput), 30000))
            << "now " << std::hex << dwNow;
    }
}

TEST(ScopeTitleTail, FromTheLastHyphenUnlessItLeads)
{
    EXPECT_STREQ(L"Movies", ScopeTitleTail(L"Movies"));
    EXPECT_STREQ(L"-Player", ScopeTitleTail(L"-Player"));
    EXPECT_STREQ(L"- Edge", ScopeTitleTail(L"Song - Artist - Edge"));
    EXPECT_STREQ(L"-", ScopeTitleTail(L"abc-"));
    EXPECT_STREQ(L"", ScopeTitleTail(L""));
}

TEST(IsTitleInScope, TailSearchedInTheListCaseSensitively)
{
    const wchar_t* pszScope = L" - YouTube - Google Chrome; - Movies & TV;VLC media player";
    EXPECT_EQ(1, IsTitleInScope(pszScope, L"Cats - YouTube - Google Chrome"));
    EXPECT_EQ(1, IsTitleInScope(pszScope, L"Film - Movies & TV"));
    EXPECT_EQ(0, IsTitleInScope(pszScope, L"Film - movies & tv")) << "case-sensitive";
    // No hyphen: the whole title must occur in the list.
    EXPECT_EQ(1, IsTitleInScope(pszScope, L"VLC media player"));
    EXPECT_EQ(0, IsTitleInScope(pszScope, L"VLC player"));
    // Only the tail after the last of several hyphens is searched.
    EXPECT_EQ(1, IsTitleInScope(pszScope, L"a-b - c - Movies & TV"));
    EXPECT_EQ(0, IsTitleInScope(pszScope, L"x - Movies & TV - Notepad"));
    // A leading hyphen keeps the whole title.
    EXPECT_EQ(1, IsTitleInScope(pszScope, L" - Movies & TV"));
    EXPECT_EQ(0, IsTitleInScope(L"Player", L"-Player")) << "leading hyphen: whole title searched";
    EXPECT_EQ(1, IsTitleInScope(L"x-Player", L"-Player"));
}

TEST(IsTitleInScope, EmptyListMatchesNothingEmptyTailMatchesAnyList)
{
    EXPECT_EQ(0, IsTitleInScope(L"", L"anything"));
    EXPECT_EQ(0, IsTitleInScope(L"", L""));
    EXPECT_EQ(1, IsTitleInScope(L"x", L""));
}

TEST(RectCoversMonitor, ExactOrLargerCoversOnePixelShortDoesNot)
{
    const RECT rcMonitor = {0, 0, 1920, 1080};
    EXPECT_EQ(1, RectCoversMonitor({0, 0, 1920, 1080}, rcMonitor));
    EXPECT_EQ(1, RectCoversMonitor({-8, -8, 1928, 1088}, rcMonitor));
    EXPECT_EQ(0, RectCoversMonitor({1, 0, 1920, 1080}, rcMonitor)) << "left";
    EXPECT_EQ(0, RectCoversMonitor({0, 1, 1920, 1080}, rcMonitor)) << "top";
    EXPECT_EQ(0, RectCoversMonitor({0, 0, 1919, 1080}, rcMonitor)) << "right";
    EXPECT_EQ(0, RectCoversMonitor({0, 0, 1920, 1079}, rcMonitor)) << "bottom";
}

TEST(RectCoversMonitor, SignedComparisonsForMonitorsLeftOfOrigin)
{
    const RECT rcMonitor = {-1280, -200, 0, 824};
    EXPECT_EQ(1, RectCoversMonitor({-1280, -200, 0, 824}, rcMonitor));
    EXPECT_EQ(0, RectCoversMonitor({-1279, -200, 0, 824}, rcMonitor));
    EXPECT_EQ(0, RectCoversMonitor({0, 0, 1920, 1080}, rcMonitor));
}
