// The pure rules of the status model: the hotkey cycle, the locked toggle and the hotkey
// interval with the tick counter's wrap-around.
#include <gtest/gtest.h>

#include "GlimNames.h"
#include "KBRules.h"

using namespace glim;

TEST(NextKBStatus, CyclesOffOnAutoOff)
{
    EXPECT_EQ(kStatusOn, NextKBStatus(kStatusOff));
    EXPECT_EQ(kStatusAuto, NextKBStatus(kStatusOn));
    EXPECT_EQ(kStatusOff, NextKBStatus(kStatusAuto));
}

TEST(NextKBStatus, InvalidAndUnknownGoOff)
{
    EXPECT_EQ(kStatusOff, NextKBStatus(0xFFFFFFFFu));
    EXPECT_EQ(kStatusOff, NextKBStatus(3));
    EXPECT_EQ(kStatusOff, NextKBStatus(0x7FFFFFFF));
}

TEST(NextLockedKBStatus, TogglesBetweenOffAndOn)
{
    EXPECT_EQ(kStatusOn, NextLockedKBStatus(kStatusOff));
    EXPECT_EQ(kStatusOff, NextLockedKBStatus(kStatusOn));
    // Auto is not restored by the locked toggle.
    EXPECT_EQ(kStatusOff, NextLockedKBStatus(kStatusAuto));
    EXPECT_EQ(kStatusOff, NextLockedKBStatus(0xFFFFFFFFu));
}

TEST(AcceptF12Press, RejectsUpToExactly500AndAcceptsFrom501)
{
    DWORD dwLast = 100000;
    EXPECT_FALSE(AcceptF12Press(100000 + 400, &dwLast));
    EXPECT_EQ(100000u, dwLast) << "a rejected press must not move the last tick";
    EXPECT_FALSE(AcceptF12Press(100000 + 500, &dwLast));
    EXPECT_EQ(100000u, dwLast);
    EXPECT_TRUE(AcceptF12Press(100000 + 501, &dwLast));
    EXPECT_EQ(100501u, dwLast);
}

TEST(AcceptF12Press, SpanIsMeasuredFromTheLastAcceptedPress)
{
    DWORD dwLast = 10000;
    EXPECT_FALSE(AcceptF12Press(10300, &dwLast));  // rejected: 300 ms
    EXPECT_TRUE(AcceptF12Press(10600, &dwLast));   // 600 ms after the accepted one
    EXPECT_EQ(10600u, dwLast);
}

TEST(AcceptF12Press, FirstPressAfterStartNeedsMoreThan500MsOfUptime)
{
    DWORD dwLast = 0;
    EXPECT_FALSE(AcceptF12Press(500, &dwLast));
    EXPECT_TRUE(AcceptF12Press(501, &dwLast));
}

TEST(AcceptF12Press, TickWrapGivesTheTrueSpan)
{
    DWORD dwLast = 0xFFFFFF00u;  // 256 ms before the wrap
    EXPECT_FALSE(AcceptF12Press(0x000000F4u, &dwLast)) << "500 ms across the wrap";
    EXPECT_FALSE(AcceptF12Press(0x00000090u, &dwLast)) << "400 ms across the wrap";
    EXPECT_TRUE(AcceptF12Press(0x000000F5u, &dwLast)) << "501 ms across the wrap";
    EXPECT_EQ(0x000000F5u, dwLast);
}
