// The agent's pure rules (role decision, relay targets, levels, notices, full-screen
// transitions, OSD placement and images) and the power monitor's reactions.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "AgentRules.h"
#include "GlimNames.h"
#include "PowerMonitor.h"
#include "TestLog.h"
#include "osd/OSDWindow.h"
#include "resources/resource.h"

using namespace agent;
using namespace glim;

TEST(DecideAgentRole, CommandWordsAnywhereCaseSensitive)
{
    EXPECT_EQ(AgentRole::RelayOsd, DecideAgentRole(L"cmd_service-2-osd"));
    EXPECT_EQ(AgentRole::RelayStatusChange, DecideAgentRole(L"cmd_service-3-statuschange"));
    EXPECT_EQ(AgentRole::RelayOsd, DecideAgentRole(L"x cmd_service-2-osd y"));
    EXPECT_EQ(
        AgentRole::RelayStatusChange,
        DecideAgentRole(L"\"C:\\Program Files (x86)\\Vessik\\Glimkit\\Glimagent.exe\" cmd_service-3-statuschange"));
    EXPECT_EQ(AgentRole::RelayOsd, DecideAgentRole(L"abccmd_service-2-osdxyz"));
    EXPECT_EQ(AgentRole::Main, DecideAgentRole(L"CMD_SERVICE-2-OSD"));
    EXPECT_EQ(AgentRole::Main, DecideAgentRole(L"cmd_service-3-StatusChange"));
    EXPECT_EQ(AgentRole::Main, DecideAgentRole(L"cmd_service-2-os"));
    EXPECT_EQ(AgentRole::Main, DecideAgentRole(L"Glimagent.exe"));
    EXPECT_EQ(AgentRole::Main, DecideAgentRole(L""));
    EXPECT_EQ(AgentRole::Main, DecideAgentRole(nullptr));
}

TEST(DecideAgentRole, OsdWordWinsWhenBothArePresent)
{
    EXPECT_EQ(AgentRole::RelayOsd, DecideAgentRole(L"cmd_service-3-statuschange cmd_service-2-osd"));
    EXPECT_EQ(AgentRole::RelayOsd, DecideAgentRole(L"cmd_service-2-osd cmd_service-3-statuschange"));
}

TEST(GetRelayTarget, EventAndNoticeOfEachRelay)
{
    RelayTarget target = {nullptr, 99};
    ASSERT_TRUE(GetRelayTarget(AgentRole::RelayOsd, &target));
    EXPECT_STREQ(L"event_host_osd", target.pszEvent);
    EXPECT_EQ(1u, target.wNotify);
    ASSERT_TRUE(GetRelayTarget(AgentRole::RelayStatusChange, &target));
    EXPECT_STREQ(L"event_host_statuschange", target.pszEvent);
    EXPECT_EQ(0u, target.wNotify);
    target = {nullptr, 99};
    EXPECT_FALSE(GetRelayTarget(AgentRole::Main, &target));
    EXPECT_EQ(nullptr, target.pszEvent);
}

TEST(LevelForStatus, OnUsesUserLevelAutoSendsNothingOtherwiseDark)
{
    INT32 nLevel = -5;
    ASSERT_TRUE(LevelForStatus(kStatusOn, 7, &nLevel));
    EXPECT_EQ(7, nLevel);
    ASSERT_TRUE(LevelForStatus(kStatusOff, 7, &nLevel));
    EXPECT_EQ(0, nLevel);
    nLevel = -5;
    EXPECT_FALSE(LevelForStatus(kStatusAuto, 7, &nLevel));
    EXPECT_EQ(-5, nLevel);
    // Unknown statuses (7, a stored -1) are dark.
    ASSERT_TRUE(LevelForStatus(7, 7, &nLevel));
    EXPECT_EQ(0, nLevel);
    ASSERT_TRUE(LevelForStatus(kStatusInvalid, 7, &nLevel));
    EXPECT_EQ(0, nLevel);
}

TEST(ActionForBrightnessNotice, PreviewOnlyInAutoWithArgumentZero)
{
    EXPECT_EQ(BrightnessNoticeAction::Apply, ActionForBrightnessNotice(kStatusOn, 0));
    EXPECT_EQ(BrightnessNoticeAction::Apply, ActionForBrightnessNotice(kStatusOn, 5));
    EXPECT_EQ(BrightnessNoticeAction::Preview, ActionForBrightnessNotice(kStatusAuto, 0));
    EXPECT_EQ(BrightnessNoticeAction::None, ActionForBrightnessNotice(kStatusAuto, 1));
    EXPECT_EQ(BrightnessNoticeAction::None, ActionForBrightnessNotice(kStatusAuto, -1));
    EXPECT_EQ(BrightnessNoticeAction::None, ActionForBrightnessNotice(kStatusOff, 0));
    EXPECT_EQ(BrightnessNoticeAction::None, ActionForBrightnessNotice(7, 0));
}

TEST(ClassifyConfigNotice, FourKindsAndEverythingElseIgnored)
{
    EXPECT_EQ(ConfigNotice::Status, ClassifyConfigNotice(0));
    EXPECT_EQ(ConfigNotice::Brightness, ClassifyConfigNotice(1));
    EXPECT_EQ(ConfigNotice::IdleTime, ClassifyConfigNotice(2));
    EXPECT_EQ(ConfigNotice::FullScreenRule, ClassifyConfigNotice(3));
    EXPECT_EQ(ConfigNotice::Ignored, ClassifyConfigNotice(4));
    // A missing kind arrives sign-extended: all bits set, as a whole WPARAM.
    EXPECT_EQ(ConfigNotice::Ignored, ClassifyConfigNotice(static_cast<WPARAM>(static_cast<INT_PTR>(-1))));
    // Only the whole value counts: high bits make it another kind.
    EXPECT_EQ(ConfigNotice::Ignored, ClassifyConfigNotice(static_cast<WPARAM>(0x100000000ull)));
}

TEST(FullScreenTransition, HandlerRunsOnlyOnAChange)
{
    EXPECT_EQ(1, FullScreenTransition(false, 1));
    EXPECT_EQ(0, FullScreenTransition(true, 1));
    EXPECT_EQ(-1, FullScreenTransition(true, 0));
    EXPECT_EQ(0, FullScreenTransition(false, 0));
    // Low 32 bits only: a verdict with just high bits set reads as "not full screen".
    EXPECT_EQ(0, FullScreenTransition(false, static_cast<WPARAM>(0x100000000ull)));
    EXPECT_EQ(-1, FullScreenTransition(true, static_cast<WPARAM>(0x100000000ull)));
    EXPECT_EQ(1, FullScreenTransition(false, static_cast<WPARAM>(0x80000000ull)));
}

TEST(OsdPlacement, CentredAndAboveTheBottomEdge)
{
    const RECT rc1080 = {0, 0, 1920, 1080};
    POINT pt = osd::PlaceOnMonitor(rc1080, 288, 96);
    EXPECT_EQ(816, pt.x);
    EXPECT_EQ(1080 - 96 - 110, pt.y);
    const RECT rc768 = {0, 0, 1024, 768};
    pt = osd::PlaceOnMonitor(rc768, 288, 96);
    EXPECT_EQ(368, pt.x);
    EXPECT_EQ(562, pt.y);
    // An odd leftover truncates toward zero; a monitor not at the origin is offset.
    const RECT rcOdd = {100, 50, 100 + 1025, 50 + 600};
    pt = osd::PlaceOnMonitor(rcOdd, 288, 96);
    EXPECT_EQ(100 + 368, pt.x);
    EXPECT_EQ(50 + 600 - 206, pt.y);
    // A monitor narrower than the OSD: the division still truncates toward zero.
    const RECT rcNarrow = {0, 0, 287, 300};
    EXPECT_EQ(0, osd::PlaceOnMonitor(rcNarrow, 288, 96).x);
}

TEST(OsdImages, OneBitmapPerStatusNoneOtherwise)
{
    EXPECT_EQ(133u, osd::BitmapIdForStatus(0));
    EXPECT_EQ(134u, osd::BitmapIdForStatus(1));
    EXPECT_EQ(136u, osd::BitmapIdForStatus(2));
    EXPECT_EQ(0u, osd::BitmapIdForStatus(3));
    EXPECT_EQ(0u, osd::BitmapIdForStatus(-1));
}

namespace {
// A POWERBROADCAST_SETTING with one data byte.
std::vector<BYTE> PowerSetting(const GUID& guid, BYTE value)
{
    std::vector<BYTE> buf(sizeof(POWERBROADCAST_SETTING) + 4, 0);
    auto* p = reinterpret_cast<POWERBROADCAST_SETTING*>(buf.data());
    p->PowerSetting = guid;
    p->DataLength = 1;
    p->Data[0] = value;
    return buf;
}
constexpr GUID kDisplayState = {0x6fe69556, 0x704a, 0x47a0, {0x8f, 0x24, 0xc2, 0x8d, 0x93, 0x6f, 0xda, 0x47}};
// GUID_ACDC_POWER_SOURCE, another power setting.
constexpr GUID kPowerSource = {0x5d3e9a59, 0xe9d5, 0x4b00, {0xa6, 0xbd, 0xff, 0x34, 0xff, 0x51, 0x65, 0x48}};

size_t LineCount()
{
    return glimtest::Lines().size();
}
}  // namespace

TEST(PowerMonitor, DisplayStateFromTheFirstDataByte)
{
    auto off = PowerSetting(kDisplayState, 0);
    auto on = PowerSetting(kDisplayState, 1);
    auto dim = PowerSetting(kDisplayState, 2);
    auto other = PowerSetting(kPowerSource, 0);
    EXPECT_EQ(0, power::ConsoleDisplayState(reinterpret_cast<POWERBROADCAST_SETTING*>(off.data())));
    EXPECT_EQ(1, power::ConsoleDisplayState(reinterpret_cast<POWERBROADCAST_SETTING*>(on.data())));
    EXPECT_EQ(2, power::ConsoleDisplayState(reinterpret_cast<POWERBROADCAST_SETTING*>(dim.data())));
    EXPECT_EQ(-1, power::ConsoleDisplayState(reinterpret_cast<POWERBROADCAST_SETTING*>(other.data())));
    EXPECT_EQ(-1, power::ConsoleDisplayState(nullptr));
}

TEST(PowerMonitor, BroadcastsBecomeLogLinesOnly)
{
    glimtest::Clear();
    CPowerMonitor* pMonitor = CPowerMonitor::GetInstance();
    ASSERT_EQ(pMonitor, CPowerMonitor::GetInstance());

    pMonitor->OnPowerBroadcast(PBT_APMSUSPEND, 0);
    pMonitor->OnPowerBroadcast(PBT_APMRESUMESUSPEND, 0);
    pMonitor->OnPowerBroadcast(PBT_APMPOWERSTATUSCHANGE, 0);
    EXPECT_TRUE(glimtest::Contains(L"PBT_APMSUSPEND", L"CPowerMonitor::OnPowerBroadcast"));
    EXPECT_TRUE(glimtest::Contains(L"PBT_APMRESUMESUSPEND", L"CPowerMonitor::OnPowerBroadcast"));
    EXPECT_TRUE(glimtest::Contains(L"PBT_APMPOWERSTATUSCHANGE", L"CPowerMonitor::OnPowerBroadcast"));
    ASSERT_EQ(3u, LineCount());

    auto off = PowerSetting(kDisplayState, 0);
    auto on = PowerSetting(kDisplayState, 1);
    pMonitor->OnPowerBroadcast(PBT_POWERSETTINGCHANGE, reinterpret_cast<LPARAM>(off.data()));
    pMonitor->OnPowerBroadcast(PBT_POWERSETTINGCHANGE, reinterpret_cast<LPARAM>(on.data()));
    const auto lines = glimtest::Lines();
    ASSERT_EQ(5u, lines.size());
    EXPECT_EQ(L"OnScreenOff", lines[3].message);
    EXPECT_EQ(L"CKBBackLightMgr::OnScreenOff", lines[3].function);
    EXPECT_EQ(L"OnScreenOn", lines[4].message);
    EXPECT_EQ(L"CKBBackLightMgr::OnScreenOn", lines[4].function);
    EXPECT_EQ('D', lines[4].chLevel);

    // Dimmed, another setting and other events: nothing at all.
    auto dim = PowerSetting(kDisplayState, 2);
    auto other = PowerSetting(kPowerSource, 1);
    pMonitor->OnPowerBroadcast(PBT_POWERSETTINGCHANGE, reinterpret_cast<LPARAM>(dim.data()));
    pMonitor->OnPowerBroadcast(PBT_POWERSETTINGCHANGE, reinterpret_cast<LPARAM>(other.data()));
    pMonitor->OnPowerBroadcast(PBT_APMRESUMEAUTOMATIC, 0);
    pMonitor->OnPowerBroadcast(0x1234, 0);
    EXPECT_EQ(5u, LineCount());
}

TEST(PowerMonitor, RegistersAWindowAndUnregistersOnce)
{
    HWND hWnd = CreateWindowExW(0, L"STATIC", L"power test", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(nullptr, hWnd);
    glimtest::Clear();
    CPowerMonitor::GetInstance()->InitPowerMonitor(hWnd);
    EXPECT_FALSE(glimtest::Contains(L"Failed to register for notification of console display source changes!"))
        << "RegisterPowerSettingNotification failed for a top-level window";
    CPowerMonitor::GetInstance()->UninitPowerMonitor();
    CPowerMonitor::GetInstance()->UninitPowerMonitor();  // nothing left to unregister
    DestroyWindow(hWnd);
}
