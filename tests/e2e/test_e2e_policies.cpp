// The automatic rules through Glimagent.exe as shipped: the simulated ambient light sensor
// (registered in the prefix, loaded by the agent through CoCreateInstance) drives the
// level in Auto by bands after the settling time, and the user's idleness switches the
// light off and real input brings it back. Observed only from outside: the simulated
// filter driver's request history and the agent's log.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "Absence.h"
#include "AgentE2eTest.h"
#include "GlimNames.h"
#include "ScreenProbe.h"
#include "SettingsApp.h"
#include "SettingsFileTools.h"
#include "SimComServer.h"
#include "SimDriver.h"
#include "SimDriverChecks.h"
#include "SimPower.h"
#include "SimSensorDriver.h"
#include "SimUIADriver.h"

using namespace glimtest;
using namespace glim;

namespace {

// CLSID_SensorManager and CLSID_PortableDeviceValues.
const CLSID kClsidSensorManager = {0x77a1c827, 0xfcd2, 0x4689, {0x89, 0x15, 0x9d, 0x61, 0x3c, 0xc5, 0xfa, 0x3e}};
const CLSID kClsidPortableDeviceValues = {0x0c15d503, 0xd017, 0x47ce, {0x90, 0x16, 0x7b, 0x3f, 0x97, 0x87, 0x21, 0xcc}};
// CLSID_CUIAutomation.
const CLSID kClsidUIAutomation = {0xff48dba4, 0x60ef, 0x4201, {0xaa, 0x87, 0x54, 0x10, 0x3e, 0xef, 0x59, 0x4e}};

// The stand-in powrprof.dll beside Glimagent.exe for one test, and Wine told to load it
// for that program only.
class CPowrProfBesideAgent {
public:
    CPowrProfBesideAgent()
        : m_strTarget(glimtest::BesideProgram(simpower::kDllName))
        , m_override(L"Glimagent.exe", simpower::kModuleName)
    {
        m_bCopied =
            CopyFileW(glimtest::BesideProgram(L"simpower\\powrprof.dll").c_str(), m_strTarget.c_str(), FALSE) != 0;
    }
    virtual ~CPowrProfBesideAgent() { DeleteFileW(m_strTarget.c_str()); }
    bool Ok() const { return m_bCopied && m_override.Ok(); }

private:
    std::wstring m_strTarget;
    glimtest::CDllOverride m_override;
    bool m_bCopied = false;
};

// A topmost window of this thread covering the primary monitor, in the foreground; gone
// with the object.
class CCoveringWindow {
public:
    explicit CCoveringWindow(const wchar_t* pszTitle)
    {
        const RECT rc = glimtest::PrimaryMonitor();
        m_hWnd = CreateWindowExW(WS_EX_TOPMOST, L"STATIC", pszTitle, WS_POPUP | WS_VISIBLE, rc.left, rc.top,
                                 rc.right - rc.left, rc.bottom - rc.top, nullptr, nullptr, nullptr, nullptr);
        if (m_hWnd)
            SetForegroundWindow(m_hWnd);
    }
    virtual ~CCoveringWindow() { Destroy(); }
    CCoveringWindow(const CCoveringWindow&) = delete;
    CCoveringWindow& operator=(const CCoveringWindow&) = delete;

    bool InForeground() const { return m_hWnd && GetForegroundWindow() == m_hWnd; }
    void Shrink() { SetWindowPos(m_hWnd, nullptr, 0, 0, 320, 200, SWP_NOZORDER | SWP_NOACTIVATE); }
    void Destroy()
    {
        if (m_hWnd)
            DestroyWindow(m_hWnd);
        m_hWnd = nullptr;
    }

private:
    HWND m_hWnd = nullptr;
};

// Real input for the idle rule: the number of events injected (1).
UINT MoveMouse()
{
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = MOUSEEVENTF_MOVE;
    return SendInput(1, &input, sizeof(input));
}

class PoliciesE2eTest : public CAgentE2eTest {
protected:
    void SetUpTest() override
    {
        ASSERT_TRUE(m_managerReg.Ok());
        ASSERT_TRUE(m_valuesReg.Ok());
        ASSERT_TRUE(m_sensors.Ok());
        ResetSettings();
        // InActiveTime carries a non-ANSI unit: the file must be UTF-16.
        ASSERT_EQ(0u, glimtest::CreateUnicodeFile());
    }

    // Auto with the user's level given and one sensor at fLux: starts the agent and waits
    // until it has attached the sensor.
    void StartAuto(const wchar_t* pszBrightness, float fLux)
    {
        WriteKey(kKeyKBStatus, L"2");
        WriteKey(kKeyKBBrightness, pszBrightness);
        m_sensors.Describe(0, fLux);
        ASSERT_TRUE(m_main.Start());
        ASSERT_TRUE(WaitUntil([&] { return m_sensors.SlotState(0).bSinkSet != 0; }, 5000))
            << "the agent did not attach the simulated sensor";
    }

    // On with level 7, the full-screen rule on for titles ending in scope.
    void StartFullScreenRule(const wchar_t* pszScope)
    {
        ASSERT_TRUE(m_powrprof.Ok());
        ASSERT_TRUE(m_displayState.Ok());
        WriteKey(kKeyKBStatus, L"1");
        WriteKey(kKeyKBBrightness, L"7");
        WriteKey(kKeyFullScreen5sClose, L"1");
        WriteKey(kKeyFullScreenScope, pszScope);
        ASSERT_TRUE(m_main.Start());
        ASSERT_TRUE(LevelsAre({7}));
    }

    // The rule on in On at level 7 and a "Movie - Player" window covering the screen, kept
    // until its full-screen period has switched the light off. Skips the test where the
    // display keeps the window out of the foreground.
    void PlayVideoUntilDark(std::unique_ptr<CCoveringWindow>* pVideo)
    {
        StartFullScreenRule(L"- Player");
        pVideo->reset(new CCoveringWindow(L"Movie - Player"));
        if (!(*pVideo)->InForeground())
            GTEST_SKIP() << "this display does not let the test's window into the foreground";
        ASSERT_TRUE(EntersFullScreen());
        ASSERT_TRUE(LevelsAre({7, 0}, 8000));
    }

    ::testing::AssertionResult EntersFullScreen(DWORD dwTimeoutMs = 5000)
    {
        if (WaitUntil([this] { return LogCount(L"enter full") == 1; }, dwTimeoutMs))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure()
            << "checks " << LogCount(L"IsVedioPlayFullScreen") << ", display " << LogCount(L"ES_DISPLAY_REQUIRED")
            << ", scope " << LogCount(L"WindowInScope") << ", primary " << LogCount(L"WindowInPrimaryScreen")
            << ", covering " << LogCount(L"IsForegroundWindowFullScreen");
    }

    glimtest::CSimComRegistration m_managerReg{kClsidSensorManager, simsensor::kDllName};
    glimtest::CSimComRegistration m_valuesReg{kClsidPortableDeviceValues, simsensor::kDllName};
    glimtest::CSimSensorDriver m_sensors;
    CPowrProfBesideAgent m_powrprof;
    glimtest::CSimExecutionState m_displayState{ES_DISPLAY_REQUIRED | ES_USER_PRESENT};
};

}  // namespace

TEST_F(PoliciesE2eTest, AmbientBandsSetTheLevelInAutoAfterSettling)
{
    ASSERT_NO_FATAL_FAILURE(StartAuto(L"7", 2.0f));
    EXPECT_EQ(500u, m_sensors.SlotState(0).ulInterval) << "AmbientStautsChangeTime's default";
    EXPECT_TRUE(SetLevels().empty()) << "Auto sets nothing before the first reading";

    EXPECT_EQ(S_OK, m_sensors.Report(0, 2.0f));  // darkness: the user's level
    EXPECT_TRUE(LevelsAre({7}));
    EXPECT_EQ(S_OK, m_sensors.Report(0, 30.0f));  // dim indoors: 10
    EXPECT_TRUE(LevelsAre({7, 10}));
    EXPECT_EQ(S_OK, m_sensors.Report(0, 900.0f));  // bright: 0
    EXPECT_TRUE(LevelsAre({7, 10, 0}));
    EXPECT_EQ(1u, LogCount(L"enter Darkness "));
    EXPECT_EQ(1u, LogCount(L"enter DimIndoors"));
    EXPECT_EQ(1u, LogCount(L"enter bright"));

    // Three changes of band within the settling time: one level, for the last band.
    ASSERT_EQ(0u, glimtest::ClearHistory());
    m_sensors.Report(0, 30.0f);
    m_sensors.Report(0, 900.0f);
    m_sensors.Report(0, 30.0f);
    EXPECT_TRUE(LevelsAre({10}));
    EXPECT_GE(LogCount(L"lux timer exist"), 2u);
    // The same band again changes nothing.
    m_sensors.Report(0, 40.0f);
    EXPECT_TRUE(LevelsAre({10}, 1000));

    // The sensor leaving gives 0 lux: darkness.
    EXPECT_EQ(S_OK, m_sensors.Leave(0));
    EXPECT_TRUE(LevelsAre({10, 7}));
    ASSERT_TRUE(m_main.Exit());
}

TEST_F(PoliciesE2eTest, IdleSwitchesOffAndInputBringsTheLightBack)
{
    WriteKey(kKeyKBStatus, L"1");
    WriteKey(kKeyKBBrightness, L"7");
    WriteKey(kKeyInActiveTime, L"2\x79D2");
    ASSERT_TRUE(m_main.Start());
    EXPECT_TRUE(LevelsAre({7}));
    // No input for two seconds: off.
    EXPECT_TRUE(LevelsAre({7, 0}, 8000));
    EXPECT_EQ(1u, LogCount(L"InActive"));
    ASSERT_EQ(1u, MoveMouse());
    EXPECT_TRUE(LevelsAre({7, 0, 7}));
    EXPECT_EQ(1u, LogCount(L"active-- not full"));
    ASSERT_TRUE(m_main.Exit());
}

TEST_F(PoliciesE2eTest, FullScreenVideoSwitchesOffAfterFiveSecondsAndBackWhenItEnds)
{
    StartFullScreenRule(L" - Movies & TV");
    CCoveringWindow video(L"Clip - Movies & TV");
    if (!video.InForeground())
        GTEST_SKIP() << "this display does not let the test's window into the foreground";
    // Seen within one 2-second check, switched off 5 seconds later.
    EXPECT_TRUE(EntersFullScreen());
    EXPECT_TRUE(LevelsAre({7}, 3000)) << "not before the 5 seconds";
    EXPECT_TRUE(LevelsAre({7, 0}, 6000));
    EXPECT_EQ(1u, LogCount(L"timer_enterfullproc"));
    // The video ends: the user's level again.
    video.Destroy();
    EXPECT_TRUE(LevelsAre({7, 0, 7}, 6000));
    EXPECT_EQ(1u, LogCount(L"exit full"));
    ASSERT_TRUE(m_main.Exit());
}

// The level follows the mean of the valid readings: with Darkness below 150 and DimIndoors
// up to 250, sensors at 100 and 300 give 200 (DimIndoors, 10), where either one alone
// gives another band. A sensor that is not ready or gone drops out of the mean; none left
// gives 0 lux (Darkness, the user's level).
TEST_F(PoliciesE2eTest, TheMeanOfTheReadySensorsPicksTheBand)
{
    WriteKey(kKeyDarknessLux, L"150");
    WriteKey(kKeyDimIndoorsLux, L"250");
    ASSERT_NO_FATAL_FAILURE(StartAuto(L"7", 100.0f));
    EXPECT_EQ(S_OK, m_sensors.Report(0, 100.0f));
    EXPECT_TRUE(LevelsAre({7}));

    LARGE_INTEGER liNow;
    QueryPerformanceCounter(&liNow);
    EXPECT_EQ(S_OK, m_sensors.Enter(1, 300.0f));
    EXPECT_TRUE(LevelsAre({7, 10}));
    const std::vector<simkb::SimRecord> requests = glimtest::SetRequests();
    ASSERT_EQ(2u, requests.size());
    const double dMs = glimtest::CounterToMicroseconds(liNow.QuadPart, requests[1].llTime) / 1000.0;
    EXPECT_GE(dMs, 450.0) << "applied before the band settled";
    EXPECT_LE(dMs, 1500.0) << "applied long after the band settled";
    EXPECT_EQ(1u, LogCount(L"enter DimIndoors"));

    EXPECT_EQ(S_OK, m_sensors.ChangeState(1, simsensor::kStateNotAvailable));  // 100 alone
    EXPECT_TRUE(LevelsAre({7, 10, 7}));
    EXPECT_EQ(S_OK, m_sensors.ChangeState(1, simsensor::kStateReady));  // read again: 200
    EXPECT_TRUE(LevelsAre({7, 10, 7, 10}));
    EXPECT_EQ(S_OK, m_sensors.Leave(0));  // 300 alone: bright
    EXPECT_TRUE(LevelsAre({7, 10, 7, 10, 0}));
    EXPECT_EQ(S_OK, m_sensors.Leave(1));  // none left: 0 lux
    EXPECT_TRUE(LevelsAre({7, 10, 7, 10, 0, 7}));
    ASSERT_TRUE(m_main.Exit());
}

// Idle in Auto: off; the input that ends it sets nothing, and the next lux report applies
// the band again even though it is the band from before.
TEST_F(PoliciesE2eTest, IdleInAutoReappliesTheBandAtTheNextReportAfterInput)
{
    WriteKey(kKeyInActiveTime, L"3\x79D2");
    ASSERT_NO_FATAL_FAILURE(StartAuto(L"7", 30.0f));
    EXPECT_EQ(S_OK, m_sensors.Report(0, 30.0f));
    EXPECT_TRUE(LevelsAre({10}));
    EXPECT_TRUE(LevelsAre({10, 0}, 8000));
    EXPECT_EQ(1u, LogCount(L"InActive"));

    ASSERT_EQ(1u, MoveMouse());
    ASSERT_TRUE(WaitUntil([this] { return LogCount(L"Active") == 1; }, 2000));
    EXPECT_TRUE(LevelsAre({10, 0}, 300)) << "Auto sets nothing at the input itself";
    EXPECT_EQ(0u, LogCount(L"active-- not full"));
    EXPECT_EQ(S_OK, m_sensors.Report(0, 30.0f));
    EXPECT_TRUE(LevelsAre({10, 0, 10}, 1500));
    ASSERT_TRUE(m_main.Exit());
}

// A movie player in scope: off after 5 s; a hotkey press meanwhile changes neither the
// status nor the level and shows no OSD; the window shrinking ends the period.
TEST_F(PoliciesE2eTest, FullScreenPeriodIgnoresTheHotkeyAndEndsWhenTheWindowShrinks)
{
    StartFullScreenRule(L"- Player");
    CCoveringWindow video(L"Movie - Player");
    if (!video.InForeground())
        GTEST_SKIP() << "this display does not let the test's window into the foreground";
    ASSERT_TRUE(EntersFullScreen());
    ASSERT_TRUE(RunAgent(L"Glimagent.exe cmd_service-3-statuschange"));  // a press relayed as the service does
    // The sentinel: the press reached the main window (its line) and the window's thread is
    // past that handler.
    EXPECT_TRUE(NothingUntil([] { return glimtest::OsdVisible(0); },
                             [this] { return LogCount(L"WM_F12") == 1 && WindowThreadPassed(m_main.Window()); },
                             "the press handled by the main window", 5000))
        << "an OSD came up during the full-screen period";
    EXPECT_EQ(1u, ReadNumber(kKeyKBStatus, 99));
    EXPECT_TRUE(LevelsAre({7, 0}, 6000));

    video.Shrink();
    EXPECT_TRUE(LevelsAre({7, 0, 7}, 6000));
    EXPECT_EQ(1u, LogCount(L"exit full"));
    EXPECT_EQ(1u, ReadNumber(kKeyKBStatus, 99));
    ASSERT_TRUE(m_main.Exit());
}

// The rule switched off in the settings application while a video holds the light off:
// the check stops, so no verdict will end the period; it ends there and then. The light
// comes back at the On level, and the next press cycles the status and shows the OSD.
TEST_F(PoliciesE2eTest, FullScreenRuleSwitchedOffEndsThePeriod)
{
    std::unique_ptr<CCoveringWindow> video;
    ASSERT_NO_FATAL_FAILURE(PlayVideoUntilDark(&video));
    if (IsSkipped())
        return;

    Notify(CNotifyRequest().Set(kKeyFullScreen5sClose, L"0").Params(3, 0));
    EXPECT_TRUE(LevelsAre({7, 0, 7}));
    ASSERT_TRUE(RunAgent(L"Glimagent.exe cmd_service-3-statuschange"));
    EXPECT_TRUE(WaitUntil([] { return ReadNumber(kKeyKBStatus, 99) == 2; }, 5000)) << "the press was ignored";
    EXPECT_TRUE(WaitUntil([this] { return glimtest::OsdVisible(m_main.Process().Pid()); }, 5000));
    ASSERT_TRUE(m_main.Exit());
}

// The status set to Off while a video holds the light off stops the check with it: the
// video ends unobserved, and the next press gives On and its level.
TEST_F(PoliciesE2eTest, StatusOffEndsTheFullScreenPeriod)
{
    std::unique_ptr<CCoveringWindow> video;
    ASSERT_NO_FATAL_FAILURE(PlayVideoUntilDark(&video));
    if (IsSkipped())
        return;

    Notify(CNotifyRequest().Set(kKeyKBStatus, L"0").Params(0, 0));
    EXPECT_TRUE(LevelsAre({7, 0, 0}));
    video->Destroy();
    ASSERT_TRUE(RunAgent(L"Glimagent.exe cmd_service-3-statuschange"));
    EXPECT_TRUE(WaitUntil([] { return ReadNumber(kKeyKBStatus, 99) == 1; }, 5000)) << "the press was ignored";
    EXPECT_TRUE(LevelsAre({7, 0, 0, 7}));
    EXPECT_TRUE(glimtest::OsdShows(m_main.Process().Pid(), 1));
    ASSERT_TRUE(m_main.Exit());
}

// A lux report arriving while the press that leaves Auto is being handled: the main thread
// detaches the sensor, and a detach waits for the sensor's callbacks in flight, so the
// callback must not wait for the main thread. The test holds the settings lock to keep the
// main thread busy in the press until the report is in flight.
TEST_F(PoliciesE2eTest, LuxReportDuringTheDetachDoesNotHangTheAgent)
{
    ASSERT_NO_FATAL_FAILURE(StartAuto(L"7", 30.0f));
    EXPECT_EQ(S_OK, m_sensors.Report(0, 30.0f));
    ASSERT_TRUE(LevelsAre({10}));

    glim::CScopedHandle hConf(CreateMutexW(nullptr, FALSE, kMutexConf));
    ASSERT_TRUE(hConf);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hConf.Get(), 5000));
    ASSERT_TRUE(RunAgent(L"Glimagent.exe cmd_service-3-statuschange"));
    const bool bPressArrived = WaitForLog(L"WM_F12", L"WndProc");
    const bool bReported = m_sensors.Burst(0, 1, 1) == S_OK;
    // In flight until the main thread takes it, unless it was handed over without waiting.
    const bool bInFlight = WaitUntil(
        [this] { return m_sensors.State().nCallbacksInFlight > 0 || m_sensors.State().nBurstThreads == 0; }, 2000);
    ReleaseMutex(hConf.Get());
    ASSERT_TRUE(bPressArrived && bReported && bInFlight);

    EXPECT_TRUE(LevelsAre({10, 0})) << "the press from Auto to Off did not complete";
    EXPECT_TRUE(WaitUntil([this] { return m_sensors.State().nManagers == 0; }, 5000)) << "the sensor side kept running";
    EXPECT_EQ(0, m_sensors.State().nDetachTimeouts);
    ASSERT_TRUE(m_main.Exit());
}

// Leaving full screen before the 5 seconds are up never switches the light off; in On the
// user's level is set again.
TEST_F(PoliciesE2eTest, FullScreenLeftWithinFiveSecondsNeverSwitchesOff)
{
    StartFullScreenRule(L"- Player");
    CCoveringWindow video(L"Movie - Player");
    if (!video.InForeground())
        GTEST_SKIP() << "this display does not let the test's window into the foreground";
    ASSERT_TRUE(EntersFullScreen());
    video.Destroy();
    ASSERT_TRUE(WaitUntil([this] { return LogCount(L"exit full") == 1; }, 5000));
    EXPECT_TRUE(LevelsAre({7, 7}, 7000));
    EXPECT_EQ(0u, LogCount(L"timer_enterfullproc"));
}

// A "YouTube" window counts only when its "movie_player" element covers the monitor.
TEST_F(PoliciesE2eTest, YouTubeCountsOnlyWhenItsPlayerCoversTheMonitor)
{
    glimtest::CSimComRegistration uiaReg(kClsidUIAutomation, simuia::kDllName);
    ASSERT_TRUE(uiaReg.Ok());
    glimtest::CSimUIADriver uia;
    ASSERT_TRUE(uia.Ok());
    const RECT rcMonitor = glimtest::PrimaryMonitor();
    RECT rcSmall = rcMonitor;
    rcSmall.right = rcSmall.left + (rcMonitor.right - rcMonitor.left) / 2;
    uia.SetMovie(rcSmall);
    StartFullScreenRule(L"- YouTube");
    CCoveringWindow video(L"Clip - YouTube");
    if (!video.InForeground())
        GTEST_SKIP() << "this display does not let the test's window into the foreground";
    ASSERT_TRUE(WaitUntil([&] { return uia.State().nFindFirstCalls >= 2; }, 6000)) << "the player was not looked for";
    EXPECT_EQ(0u, LogCount(L"enter full")) << "a player smaller than the monitor counted";

    uia.SetMovie(rcMonitor);
    EXPECT_TRUE(EntersFullScreen());
    EXPECT_GE(LogCount(L"YouTubeFullScreen"), 1u);
    EXPECT_TRUE(LevelsAre({7, 0}, 8000));
    ASSERT_TRUE(m_main.Exit());
}

// A brightness preview in Auto shows the user's level and stops the sensor side; about
// three seconds later the agent subscribes again and the next report re-applies the band.
TEST_F(PoliciesE2eTest, PreviewInAutoRestartsTheSensorsAfterThreeSeconds)
{
    ASSERT_NO_FATAL_FAILURE(StartAuto(L"5", 30.0f));
    EXPECT_EQ(S_OK, m_sensors.Report(0, 30.0f));
    EXPECT_TRUE(LevelsAre({10}));
    ASSERT_EQ(1, m_sensors.State().nManagers);

    Notify(CNotifyRequest().Set(kKeyKBBrightness, L"8").Params(1, 0));
    const ULONGLONG ullNotice = GetTickCount64();
    EXPECT_TRUE(LevelsAre({10, 8}));
    EXPECT_TRUE(WaitUntil([this] { return m_sensors.State().nManagers == 0; }, 2000)) << "the sensor side kept running";
    ASSERT_TRUE(WaitUntil([this] { return m_sensors.State().nManagers == 1 && m_sensors.SlotState(0).bSinkSet; }, 8000))
        << "the sensor side did not restart";
    const ULONGLONG ullElapsed = GetTickCount64() - ullNotice;
    EXPECT_GE(ullElapsed, 2500u);
    EXPECT_LE(ullElapsed, 5000u);
    EXPECT_EQ(S_OK, m_sensors.Report(0, 30.0f));  // the band before the preview, applied again
    EXPECT_TRUE(LevelsAre({10, 8, 10}));
    ASSERT_TRUE(m_main.Exit());
}
