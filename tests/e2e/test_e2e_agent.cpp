// Glimagent.exe with the simulated filter driver, the settings-application stand-in and
// its own diagnostics log: relays and their notice to the settings application, a hung
// settings application, and the settings notices written and signalled by the stand-in.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "AgentE2eTest.h"
#include "DeviceProtocol.h"
#include "GlimNames.h"
#include "SettingsApp.h"
#include "SimDriver.h"
#include "SimDriverChecks.h"

using namespace glimtest;
using namespace glim;

namespace {

long long Qpc()
{
    LARGE_INTEGER li;
    QueryPerformanceCounter(&li);
    return li.QuadPart;
}

class AgentE2eTest : public CAgentE2eTest {
protected:
    void SetUpTest() override { ResetSettings({{kKeyKBStatus, L"0"}, {kKeyKBBrightness, L"5"}}); }

    void StartMain()
    {
        ASSERT_TRUE(m_main.Start()) << "the main instance did not come up";
        // Start-up in Off sets level 0; later checks count from here.
        ASSERT_TRUE(WaitUntil([] { return !SetRequests().empty(); }, 5000));
        ASSERT_EQ(0u, glimtest::ClearHistory());
    }
};

}  // namespace

TEST_F(AgentE2eTest, StartupPutsTheBacklightIntoTheStoredStatus)
{
    struct Case {
        const wchar_t* pszStatus;      // nullptr: key absent
        const wchar_t* pszBrightness;  // nullptr: key absent
        std::vector<long> expected;
    };
    const Case cases[] = {
        {L"1", L"7", {7}},       {L"1", nullptr, {10}},
        {L"0", L"7", {0}},       {L"2", L"7", {}},  // Auto waits for the ambient light
        {L"7", L"7", {0}},                          // unknown status: dark
        {nullptr, nullptr, {0}},                    // no settings at all: Off
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "KBStatus " << (c.pszStatus ? c.pszStatus : L"absent"));
        ResetSettings();
        if (c.pszStatus)
            WriteKey(kKeyKBStatus, c.pszStatus);
        if (c.pszBrightness)
            WriteKey(kKeyKBBrightness, c.pszBrightness);
        ASSERT_EQ(0u, glimtest::ClearHistory());
        CMainAgent main;
        ASSERT_TRUE(main.Start());
        EXPECT_TRUE(LevelsAre(c.expected));
        if (!c.expected.empty()) {
            EXPECT_EQ(static_cast<DWORD>(c.expected.back()), ReadNumber(kKeyCurrentKBBrightness, 99));
        }
        EXPECT_EQ(0u, LogCount(L"ShowOSD")) << "the OSD must not show at start-up";
        ASSERT_TRUE(main.Exit());
    }
}

TEST_F(AgentE2eTest, RelayedCycleSetsTheLevelOfEachStatus)
{
    StartMain();
    ASSERT_TRUE(RunAgent(L"cmd_service-3-statuschange"));  // Off -> On: the user's level
    EXPECT_TRUE(WaitUntil([] { return ReadNumber(kKeyKBStatus, 99) == 1; }, 5000));
    EXPECT_TRUE(LevelsAre({5}));
    ASSERT_TRUE(RunAgent(L"cmd_service-3-statuschange"));  // On -> Auto: nothing until lux arrives
    EXPECT_TRUE(WaitUntil([] { return ReadNumber(kKeyKBStatus, 99) == 2; }, 5000));
    EXPECT_TRUE(LevelsAre({5}));
    ASSERT_TRUE(RunAgent(L"cmd_service-3-statuschange"));  // Auto -> Off: dark
    EXPECT_TRUE(WaitUntil([] { return ReadNumber(kKeyKBStatus, 99) == 0; }, 5000));
    EXPECT_TRUE(LevelsAre({5, 0}));
    EXPECT_EQ(0u, ReadNumber(kKeyCurrentKBBrightness, 99));
    EXPECT_EQ(3u, LogCount(L"WM_F12", L"WndProc"));
}

// The relay tells the settings application first and signals the main instance only once
// that notice has been handled: with a stand-in that takes 600 ms per notice, the level
// cannot change earlier than 600 ms after the relay started.
TEST_F(AgentE2eTest, StatusRelayNotifiesTheSettingsAppBeforeTheMainInstanceReacts)
{
    StartMain();
    CSettingsApp app;
    ASSERT_EQ(0u, app.StartWindow(600));

    LARGE_INTEGER liFreq;
    QueryPerformanceFrequency(&liFreq);
    const long long llStart = Qpc();
    ASSERT_TRUE(RunAgent(L"cmd_service-3-statuschange"));
    ASSERT_TRUE(app.WaitForRecords(1, 5000));
    const auto records = app.ReadRecord();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(0u, records[0].wParam);
    EXPECT_EQ(0, records[0].lParam);
    EXPECT_EQ(static_cast<DWORD>(ISMEX_SEND), records[0].dwFlags & ISMEX_SEND) << "the notice was not sent";

    ASSERT_TRUE(LevelsAre({5}));
    const double dMs = (SetRequests()[0].llTime - llStart) * 1000.0 / liFreq.QuadPart;
    EXPECT_GE(dMs, 550.0) << "the main instance changed the level while the settings app still handled the notice";
    EXPECT_EQ(1u, ReadNumber(kKeyKBStatus, 99));
    EXPECT_EQ(5u, ReadNumber(kKeyCurrentKBBrightness, 99));

    // The trail of the press in the log.
    EXPECT_TRUE(WaitForLog(L"F12 Fressed", L"CKBBackLightMgr::GetHostStatusChangeThread"));
    EXPECT_EQ(1u, LogCount(L"WM_F12", L"WndProc"));
    EXPECT_EQ(1u, LogCount(L"confchange_status", L"CKBBackLightMgr::OnConfigChange"));
    EXPECT_EQ(1u, LogCount(L"ShowOSD", L"CKBBackLightMgr::ShowOSD"));
}

TEST_F(AgentE2eTest, OsdRelayNotifiesWithOneAndChangesNoLevel)
{
    StartMain();
    CSettingsApp app;
    ASSERT_EQ(0u, app.StartWindow());
    ASSERT_TRUE(RunAgent(L"cmd_service-2-osd"));
    ASSERT_TRUE(app.WaitForRecords(1, 5000));
    EXPECT_EQ(1u, app.ReadRecord()[0].wParam);
    EXPECT_TRUE(WaitForLog(L"F12 Fressed, only show osd", L"CKBBackLightMgr::GetHostOsdThread"));
    EXPECT_TRUE(WaitForLog(L"WM_OSD", L"WndProc"));
    EXPECT_TRUE(WaitForLog(L"ShowOSD", L"CKBBackLightMgr::ShowOSD"));
    EXPECT_TRUE(LevelsAre({}));
    EXPECT_EQ(0u, ReadNumber(kKeyKBStatus, 99));
}

// A settings application that has stopped answering neither holds the relay nor loses
// the press.
TEST_F(AgentE2eTest, HungSettingsAppStillGetsThePressThrough)
{
    StartMain();
    CSettingsApp app;
    ASSERT_EQ(0u, app.StartHung(0));
    for (int i = 0; i < 2; ++i) {
        DWORD dwElapsed = 0;
        ASSERT_TRUE(RunAgent(L"cmd_service-3-statuschange", 15000, &dwElapsed));
        EXPECT_LT(dwElapsed, 6000u) << "press " << i;
    }
    // Off -> On (level 5) -> Auto (no level).
    EXPECT_TRUE(LevelsAre({5}));
    EXPECT_TRUE(WaitUntil([] { return ReadNumber(kKeyKBStatus, 99) == 2; }, 5000));
    EXPECT_TRUE(app.ReadRecord().empty());
    EXPECT_TRUE(app.Process().IsRunning());
}

TEST_F(AgentE2eTest, StatusAndBrightnessNoticesFromTheSettingsApp)
{
    StartMain();

    // Kind 0: the settings app switched to On.
    Notify(CNotifyRequest().Set(kKeyKBStatus, L"1").Params(0, 0));
    EXPECT_TRUE(LevelsAre({5}));
    EXPECT_TRUE(WaitForLog(L"wparam is 0, lparam is 0", L"CKBBackLightMgr::GetUWPMessageThread"));
    EXPECT_TRUE(WaitForLog(L"confchange_status", L"CKBBackLightMgr::OnConfigChange"));
    EXPECT_TRUE(WaitForLog(L"ShowOSD", L"CKBBackLightMgr::ShowOSD"));

    // Kind 1 in On: the new level at once.
    Notify(CNotifyRequest().Set(kKeyKBBrightness, L"7").Params(1, 0));
    EXPECT_TRUE(LevelsAre({5, 7}));

    // Kinds 2 and 3 and an unknown kind: no level, no OSD.
    const size_t nShows = LogCount(L"ShowOSD");
    Notify(CNotifyRequest().Set(kKeyInActiveTime, L"30").Params(2, 0));
    Notify(CNotifyRequest().Set(kKeyFullScreen5sClose, L"1").Params(3, 0));
    Notify(CNotifyRequest().Params(9, 0));
    EXPECT_TRUE(WaitForLog(L"wparam is 9, lparam is 0", L"CKBBackLightMgr::GetUWPMessageThread"));
    EXPECT_TRUE(LevelsAre({5, 7}));
    EXPECT_EQ(nShows, LogCount(L"ShowOSD"));

    // Kind 1 in Off: nothing.
    Notify(CNotifyRequest().Set(kKeyKBStatus, L"0").Set(kKeyKBBrightness, L"3").Params(1, 0));
    EXPECT_TRUE(WaitForLog(L"wparam is 1, lparam is 0", L"CKBBackLightMgr::GetUWPMessageThread", 2));
    EXPECT_TRUE(LevelsAre({5, 7}));
}

TEST_F(AgentE2eTest, MissingNoticeKindArrivesAsMinusOneAndDoesNothing)
{
    StartMain();
    Notify(CNotifyRequest());
    EXPECT_TRUE(WaitForLog(L"wparam is -1, lparam is 0", L"CKBBackLightMgr::GetUWPMessageThread"));
    // A second signal without new values repeats the last notice.
    Notify(CNotifyRequest());
    EXPECT_TRUE(WaitForLog(L"wparam is -1, lparam is 0", L"CKBBackLightMgr::GetUWPMessageThread", 2));
    EXPECT_TRUE(LevelsAre({}));
    EXPECT_EQ(0u, LogCount(L"ShowOSD"));
}

// In Auto a brightness notice with argument 0 previews the level; the sensor side is
// restarted three seconds after the latest preview.
TEST_F(AgentE2eTest, BrightnessPreviewInAutoRecoversAfterThreeSeconds)
{
    ResetSettings({{kKeyKBStatus, L"2"}, {kKeyKBBrightness, L"5"}});
    ASSERT_TRUE(m_main.Start());
    ASSERT_TRUE(LevelsAre({})) << "Auto sends no level at start-up";

    Notify(CNotifyRequest().Set(kKeyKBBrightness, L"8").Params(1, 0));
    EXPECT_TRUE(LevelsAre({8}));
    WaitUntil([] { return false; }, 1500);
    Notify(CNotifyRequest().Set(kKeyKBBrightness, L"9").Params(1, 0));
    const ULONGLONG ullSecond = GetTickCount64();
    EXPECT_TRUE(LevelsAre({8, 9}));
    ASSERT_TRUE(WaitForLog(L"timer_RecoveryAutoProc", L"CKBBackLightMgr::timer_RecoveryAutoProc", 1, 8000));
    const ULONGLONG ullElapsed = GetTickCount64() - ullSecond;
    EXPECT_GE(ullElapsed, 2500u);
    EXPECT_LE(ullElapsed, 4500u);
    // The recovery is the sentinel: the first preview's moment (1.5 s after the second) lies
    // before it, so a timer of the first preview that was not replaced has run by now.
    EXPECT_EQ(1u, LogCount(L"timer_RecoveryAutoProc")) << "the first preview's timer was not replaced";

    // A non-zero argument in Auto previews nothing.
    Notify(CNotifyRequest().Set(kKeyKBBrightness, L"2").Params(1, 1));
    EXPECT_TRUE(LevelsAre({8, 9}));
}

// A listener that cannot create its event says so, with the error, and ends; the others
// and the rest of the agent run on.
TEST_F(AgentE2eTest, ListenerThatCannotCreateItsEventLogsTheError)
{
    // A mutex holding the OSD listener's event name keeps it from creating the event.
    glim::CScopedHandle hSquatter(CreateMutexW(nullptr, FALSE, kEventHostOsd));
    ASSERT_TRUE(hSquatter);
    SetLastError(0xdeadbeef);
    ASSERT_EQ(nullptr, CreateEventW(nullptr, FALSE, FALSE, kEventHostOsd));
    const DWORD dwExpected = GetLastError();

    EXPECT_FALSE(m_main.Start(2000)) << "the OSD listener's event exists after all";
    EXPECT_TRUE(
        WaitForLog(L"CreateEvent(" + std::wstring(kEventHostOsd) + L") failed, dwErr=" + std::to_wstring(dwExpected),
                   L"CKBBackLightMgr::GetHostOsdThread", 1, 10000));
    EXPECT_TRUE(EventExists(kEventHostStatusChange) && EventExists(kEventUwp));
}

// The name is taken only for a moment, as by an older version's relay that made the event
// first with rights the main instance lacks: the listener tries again, logs the failure
// once, and serves presses once the name is free.
TEST_F(AgentE2eTest, ListenerGetsItsEventOnceTheNameIsFree)
{
    glim::CScopedHandle hSquatter(CreateMutexW(nullptr, FALSE, kEventHostStatusChange));
    ASSERT_TRUE(hSquatter);
    const std::wstring failure = L"CreateEvent(" + std::wstring(kEventHostStatusChange) + L") failed, dwErr=" +
        std::to_wstring(ERROR_INVALID_HANDLE);
    const wchar_t* kLabel = L"CKBBackLightMgr::GetHostStatusChangeThread";
    bool bStarted = false;
    std::thread starter([this, &bStarted] { bStarted = m_main.Start(15000); });
    const bool bFailed = WaitForLog(failure, kLabel, 1, 10000);
    WaitUntil([] { return false; }, 1000);  // several more attempts fail meanwhile
    hSquatter.Reset();
    starter.join();
    ASSERT_TRUE(bFailed);
    ASSERT_TRUE(bStarted) << "the status-change listener never got its event";
    EXPECT_EQ(1u, LogCount(failure, kLabel));
    ASSERT_TRUE(RunAgent(L"Glimagent.exe cmd_service-3-statuschange"));
    EXPECT_TRUE(WaitUntil([] { return ReadNumber(kKeyKBStatus, 99) == 1; }, 5000));
    EXPECT_TRUE(m_main.Exit());
}
