// The hotkey road through both programs as shipped: Glimward.exe running as a service and
// Glimagent.exe installed where the installer puts them, its main instance started with no
// command word as a logon would, the simulated filter driver pressing the hotkey and the
// "Zentia" stand-in recording the relays' notices. Everything is observed from outside:
// the driver's level and history, the settings file, the OSD's window and screen pixels,
// the stand-in's record and the two log files.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "Absence.h"
#include "AgentProcess.h"
#include "GlimNames.h"
#include "InstalledSystemTest.h"
#include "ScreenProbe.h"
#include "ServiceHarness.h"
#include "SettingsApp.h"
#include "SimDriver.h"
#include "SimDriverChecks.h"

using glimtest::LevelsAre;
using glimtest::NothingUntil;
using glimtest::WaitUntil;
using glimtest::WindowThreadPassed;

namespace {

using glimtest::kBrightness;
using glimtest::kWaitMs;

// How long the stand-in takes over each notice in the order checks: long enough that a
// main instance reacting before the notice was handled shows up clearly.
constexpr DWORD kNoticeDelayMs = 600;
// Clock tolerance when a GetTickCount time is compared with a driver time stamp.
constexpr double kClockSlackMs = 100.0;
// The OSD hides 3000 ms after its latest show; polling and Wine's scheduling add jitter.
constexpr ULONGLONG kHideMinMs = 2500;
constexpr ULONGLONG kHideMaxMs = 4500;

double QpcMs(long long llCount)
{
    static const double s_dFreq = [] {
        LARGE_INTEGER li;
        QueryPerformanceFrequency(&li);
        return static_cast<double>(li.QuadPart);
    }();
    return llCount * 1000.0 / s_dFreq;
}

// A GetTickCount value (the stand-in's record) on the QueryPerformanceCounter clock of the
// driver's time stamps, through a reading of both clocks taken now.
double TickToQpcMs(DWORD dwTick)
{
    LARGE_INTEGER li;
    const DWORD dwNow = GetTickCount();
    QueryPerformanceCounter(&li);
    return QpcMs(li.QuadPart) + static_cast<LONG>(dwTick - dwNow);
}

// Waits until the given moment (GetTickCount64) has come; for spacing presses.
void WaitTill(ULONGLONG ullWhen)
{
    WaitUntil([&] { return GetTickCount64() >= ullWhen; }, static_cast<DWORD>(kWaitMs));
}

class HotkeyRoad : public glimtest::CInstalledSystemTest {
protected:
    // The OSD of the main instance comes up with the cell at the stated place.
    void ExpectOsdAtItsPlace(int nCell)
    {
        ASSERT_TRUE(glimtest::OsdShows(MainPid(), nCell));
        EXPECT_TRUE(glimtest::OsdAtItsPlace(MainPid()));
    }

    // Milliseconds from the moment given until the OSD hides (or the wait ends).
    ULONGLONG WaitForOsdHidden(ULONGLONG ullShown)
    {
        EXPECT_TRUE(WaitUntil([&] { return !glimtest::OsdVisible(MainPid()); }, 8000)) << "the OSD did not hide";
        return GetTickCount64() - ullShown;
    }
};

}  // namespace

// Unlocked: each press advances Off -> On -> Auto -> Off. The relay's notice reaches the
// settings application before the main instance changes anything: the stand-in holds
// each notice for 600 ms, during which neither the status nor the level may move.
TEST_F(HotkeyRoad, UnlockedPressesCycleTheStatusAfterTheSettingsAppHeardOfIt)
{
    ASSERT_NO_FATAL_FAILURE(StartSystem(0, false, true, kNoticeDelayMs));
    struct Step {
        int nStatus;
        std::vector<long> levels;  // every set request since the start
    };
    const Step steps[] = {{1, {kBrightness}}, {2, {kBrightness}}, {0, {kBrightness, 0}}};
    int nBefore = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(testing::Message() << "press to status " << step.nStatus);
        const size_t nRecords = m_app.ReadRecord().size();
        const size_t nSets = glimtest::SetRequests().size();
        ASSERT_NO_FATAL_FAILURE(Press());

        bool bEarly = false;
        ASSERT_TRUE(WaitUntil(
            [&] {
                if (m_app.ReadRecord().size() > nRecords)
                    return true;
                bEarly = bEarly || Status() != nBefore || glimtest::SetRequests().size() != nSets;
                return false;
            },
            kWaitMs))
            << "the settings application got no notice";
        EXPECT_FALSE(bEarly) << "the main instance reacted while the settings application still handled the notice";
        const glimtest::CNotifyRecord notice = m_app.ReadRecord().back();
        EXPECT_EQ(0u, notice.wParam);
        EXPECT_EQ(0, notice.lParam);
        EXPECT_EQ(static_cast<DWORD>(ISMEX_SEND), notice.dwFlags & ISMEX_SEND) << "the notice was not sent";

        ASSERT_TRUE(WaitForStatus(step.nStatus)) << "KBStatus " << Status();
        ASSERT_NO_FATAL_FAILURE(ExpectOsdAtItsPlace(step.nStatus));
        const ULONGLONG ullShown = GetTickCount64();
        EXPECT_TRUE(LevelsAre(step.levels));
        const std::vector<simkb::SimRecord> sets = glimtest::SetRequests();
        if (sets.size() > nSets) {
            // The level came after the stand-in had held the notice for its whole delay.
            const double dAfterNoticeMs = QpcMs(sets.back().llTime) - TickToQpcMs(notice.dwTick);
            EXPECT_GE(dAfterNoticeMs, kNoticeDelayMs - kClockSlackMs);
        }
        const ULONGLONG ullHidden = WaitForOsdHidden(ullShown);
        EXPECT_GE(ullHidden, kHideMinMs);
        EXPECT_LE(ullHidden, kHideMaxMs);
        nBefore = step.nStatus;
    }
    EXPECT_EQ(3u, m_app.ReadRecord().size());
    EXPECT_EQ(3, m_log.CountMessage(L"NoSessionLocked"));
    EXPECT_EQ(0u, AgentLogCount(L"F12 Fressed, only show osd", L"CKBBackLightMgr::GetHostOsdThread"));
    EXPECT_EQ(3u, AgentLogCount(L"F12 Fressed", L"CKBBackLightMgr::GetHostStatusChangeThread"));
    EXPECT_EQ(0, m_settings.Get(glim::kKeyCurrentKBBrightness));
}

// A second press while the OSD is up switches its image at once and keeps it up until
// three seconds after the second show.
TEST_F(HotkeyRoad, SecondPressWithinThreeSecondsKeepsTheOsdUp)
{
    ASSERT_NO_FATAL_FAILURE(StartSystem(0, false));
    ASSERT_NO_FATAL_FAILURE(Press());
    ASSERT_TRUE(glimtest::OsdShows(MainPid(), 1));
    const ULONGLONG ullFirst = GetTickCount64();

    WaitTill(ullFirst + 1500);
    ASSERT_NO_FATAL_FAILURE(Press());
    ASSERT_TRUE(glimtest::OsdShows(MainPid(), 2, 3000)) << "the second press did not switch the image";
    const ULONGLONG ullSecond = GetTickCount64();
    ASSERT_LT(ullSecond, ullFirst + 3000) << "the second show came too late to test anything";

    WaitTill(ullFirst + 3800);
    EXPECT_TRUE(glimtest::OsdVisible(MainPid())) << "the OSD hid three seconds after the first show";
    const ULONGLONG ullHidden = WaitForOsdHidden(ullSecond);
    EXPECT_GE(ullHidden, kHideMinMs);
    EXPECT_LE(ullHidden, kHideMaxMs);
    EXPECT_EQ(2, Status());
}

// Locked: the service toggles the status and the level itself (Auto -> Off -> On), the
// relay notifies with wParam 1, and the main instance only shows the OSD.
TEST_F(HotkeyRoad, LockedPressesAreToggledByTheServiceAndOnlyShownByTheAgent)
{
    ASSERT_NO_FATAL_FAILURE(StartSystem(2, true));

    ASSERT_NO_FATAL_FAILURE(Press());
    const ULONGLONG ullFirst = GetTickCount64();
    ASSERT_TRUE(WaitForStatus(0)) << "KBStatus " << Status();
    ASSERT_TRUE(m_app.WaitForRecords(1, kWaitMs));
    EXPECT_EQ(1u, m_app.ReadRecord()[0].wParam);
    ASSERT_NO_FATAL_FAILURE(ExpectOsdAtItsPlace(0));
    EXPECT_TRUE(LevelsAre({0}));

    WaitTill(ullFirst + 700);  // past the hotkey interval
    ASSERT_NO_FATAL_FAILURE(Press());
    ASSERT_TRUE(WaitForStatus(1)) << "KBStatus " << Status();
    ASSERT_TRUE(m_app.WaitForRecords(2, kWaitMs));
    EXPECT_EQ(1u, m_app.ReadRecord()[1].wParam);
    ASSERT_NO_FATAL_FAILURE(ExpectOsdAtItsPlace(1));
    // Only the service's two requests: the agent neither applied nor advanced the status.
    EXPECT_TRUE(LevelsAre({0, kBrightness}));
    // The sentinel: the agent handled both OSD relays (one relay per press, each signals one
    // event) and its window's thread is past them; the status never moved on meanwhile.
    EXPECT_TRUE(NothingUntil([&] { return Status() != 1; },
                             [&] {
                                 return AgentLogCount(L"F12 Fressed, only show osd",
                                                      L"CKBBackLightMgr::GetHostOsdThread") == 2 &&
                                     RelaysRunning() == 0 && WindowThreadPassed(m_main.Window());
                             },
                             "both OSD relays handled", kWaitMs))
        << "KBStatus moved on to " << Status();

    EXPECT_EQ(2, m_log.CountMessage(L"SessionLocked"));
    EXPECT_EQ(0u, AgentLogCount(L"F12 Fressed", L"CKBBackLightMgr::GetHostStatusChangeThread"));
    EXPECT_EQ(0u, AgentLogCount(L"confchange_status", L"CKBBackLightMgr::OnConfigChange"));
}

// The service accepts a press only 500 ms after the last accepted one: presses at 0 and
// 300 ms give one status change, one at 900 ms (600 ms after the second) another.
TEST_F(HotkeyRoad, PressesWithinHalfASecondGiveOneStatusChange)
{
    ASSERT_NO_FATAL_FAILURE(StartSystem(0, false));
    const ULONGLONG ullStart = GetTickCount64();
    ASSERT_NO_FATAL_FAILURE(Press());
    WaitTill(ullStart + 300);
    ASSERT_NO_FATAL_FAILURE(Press());
    WaitTill(ullStart + 900);
    ASSERT_NO_FATAL_FAILURE(Press());

    ASSERT_TRUE(WaitForStatus(2)) << "KBStatus " << Status();
    // The sentinel: every relay the service started has ended (each told the stand-in before
    // it signalled), and the agent's window's thread is past the second press it handled.
    // A relay of the second press would have started before the third's.
    EXPECT_TRUE(NothingUntil([&] { return Status() != 2 || m_app.ReadRecord().size() > 2; },
                             [&] {
                                 return RelaysRunning() == 0 &&
                                     AgentLogCount(L"F12 Fressed", L"CKBBackLightMgr::GetHostStatusChangeThread") >=
                                     2 &&
                                     WindowThreadPassed(m_main.Window());
                             },
                             "every relay ended and handled", kWaitMs))
        << "a third status change: KBStatus " << Status();
    EXPECT_EQ(2u, m_app.ReadRecord().size());
    EXPECT_TRUE(LevelsAre({kBrightness}));
    EXPECT_EQ(3, m_log.CountMessage(L"tovin read"));
    EXPECT_EQ(2, m_log.CountMessage(L"f12 span meets"));
    EXPECT_TRUE(WaitUntil(
        [&] { return AgentLogCount(L"F12 Fressed", L"CKBBackLightMgr::GetHostStatusChangeThread") == 2; }, kWaitMs));
}
