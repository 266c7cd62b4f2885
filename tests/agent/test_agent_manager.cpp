// The manager's reactions in-process, where the sensing side's state can be read: which
// notice starts or stops the sensor side, the idle tracking and the full-screen check, the
// brightness preview's recovery timer, and the full-screen gate on the hotkey.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <thread>
#include <vector>

#include "AgentProcess.h"
#include "GlimNames.h"
#include "KBBackLightMgr.h"
#include "MainThread.h"
#include "SettingsFile.h"
#include "SettingsFileTools.h"
#include "TestLog.h"
#include "sensing/AmbientLightAware.h"
#include "sensing/FullScreen.h"
#include "sensing/InputTracking.h"

using namespace glimtest;
using namespace glim;

namespace {

class ManagerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetSettings();
        // Idle tracking runs only for a valid idle time, whose unit needs a UTF-16 file.
        ASSERT_EQ(0u, glimtest::CreateUnicodeFile());
        WriteKey(kKeyInActiveTime, L"5\x5206");
        CSettingsFile::GetInstance()->BuildPath();
        m_pMgr = CKBBackLightMgr::GetInstance();
        m_pMgr->m_bFullScreen = 0;
        m_pMgr->m_bEnterInActive = 0;
        // Start from everything stopped.
        WriteKey(kKeyKBStatus, L"0");
        m_pMgr->OnConfigChange(0, 0);
        glimtest::Clear();
    }

    static bool AmbientRunning() { return CambientLightAware::GetInstance()->IsRunning(); }
    static bool Tracking() { return CInputTracking::GetInstance()->IsTracking(); }
    static bool Monitoring() { return CFullScreen::GetInstance()->IsMonitoring(); }

    // Status On with the full-screen rule on: the check runs.
    void StartCheckInOn() const
    {
        WriteKey(kKeyFullScreen5sClose, L"1");
        WriteKey(kKeyKBStatus, L"1");
        m_pMgr->OnConfigChange(0, 0);
        ASSERT_TRUE(Monitoring());
    }

    CKBBackLightMgr* m_pMgr = nullptr;
};

}  // namespace

TEST_F(ManagerTest, StatusNoticeStartsAndStopsTheSensingSide)
{
    WriteKey(kKeyFullScreen5sClose, L"1");
    WriteKey(kKeyKBStatus, L"2");
    m_pMgr->m_bEnterInActive = 1;
    m_pMgr->OnConfigChange(0, 0);
    EXPECT_TRUE(AmbientRunning());
    EXPECT_TRUE(Tracking());
    EXPECT_TRUE(Monitoring());
    EXPECT_EQ(0, m_pMgr->m_bEnterInActive) << "a status change ends an idle switch-off";
    EXPECT_EQ(0, CambientLightAware::GetInstance()->m_nAmbientStatus);
    EXPECT_TRUE(glimtest::Contains(L"confchange_status", L"CKBBackLightMgr::OnConfigChange"));
    EXPECT_TRUE(glimtest::Contains(L"ShowOSD", L"CKBBackLightMgr::ShowOSD"));

    WriteKey(kKeyKBStatus, L"1");
    m_pMgr->OnConfigChange(0, 0);
    EXPECT_FALSE(AmbientRunning());
    EXPECT_TRUE(Tracking());
    EXPECT_TRUE(Monitoring());

    WriteKey(kKeyKBStatus, L"0");
    m_pMgr->OnConfigChange(0, 0);
    EXPECT_FALSE(AmbientRunning());
    EXPECT_FALSE(Tracking());
    EXPECT_FALSE(Monitoring());
}

TEST_F(ManagerTest, IdleAndFullScreenNoticesFollowTheStatus)
{
    WriteKey(kKeyKBStatus, L"1");
    m_pMgr->OnConfigChange(2, 0);
    EXPECT_TRUE(Tracking());
    WriteKey(kKeyFullScreen5sClose, L"1");
    m_pMgr->OnConfigChange(3, 0);
    EXPECT_TRUE(Monitoring());
    WriteKey(kKeyFullScreen5sClose, L"0");
    m_pMgr->OnConfigChange(3, 0);
    EXPECT_FALSE(Monitoring()) << "the rule switched off must stop the check";

    WriteKey(kKeyKBStatus, L"0");
    WriteKey(kKeyFullScreen5sClose, L"1");
    m_pMgr->OnConfigChange(2, 0);
    m_pMgr->OnConfigChange(3, 0);
    EXPECT_FALSE(Tracking());
    EXPECT_FALSE(Monitoring());
    // Kinds 1 to 3 log nothing of the manager's own and show no OSD (the sensing side
    // logs its own steps).
    for (const glimtest::Line& line : glimtest::Lines())
        EXPECT_NE(0u, line.function.find(L"CKBBackLightMgr::"))
            << std::string(line.function.begin(), line.function.end());
}

TEST_F(ManagerTest, PreviewInAutoRestartsTheSensorThreeSecondsAfterTheLastNotice)
{
    WriteKey(kKeyKBStatus, L"2");
    m_pMgr->OnConfigChange(0, 0);
    ASSERT_TRUE(AmbientRunning());
    glimtest::Clear();

    m_pMgr->OnConfigChange(1, 0);
    EXPECT_FALSE(AmbientRunning()) << "the preview stops the sensor side";
    WaitUntil([] { return false; }, 1500);
    m_pMgr->OnConfigChange(1, 0);  // a second preview restarts the three seconds
    const ULONGLONG ullSecond = GetTickCount64();
    ASSERT_TRUE(WaitUntil([] { return AmbientRunning(); }, 6000)) << "the recovery timer never ran";
    const ULONGLONG ullElapsed = GetTickCount64() - ullSecond;
    EXPECT_GE(ullElapsed, 2800u);
    EXPECT_LE(ullElapsed, 4000u);
    // The recovery is the sentinel: the first preview's moment (1.5 s after the second) lies
    // before it, so a timer of the first preview that was not replaced has run by now.
    size_t nRecoveries = 0;
    for (const auto& line : glimtest::Lines())
        nRecoveries += line.message == L"timer_RecoveryAutoProc" ? 1 : 0;
    EXPECT_EQ(1u, nRecoveries) << "the first preview's timer was not replaced";

    // Non-zero argument in Auto, or Off: no preview.
    m_pMgr->OnConfigChange(1, 1);
    EXPECT_TRUE(AmbientRunning());
}

TEST_F(ManagerTest, HotkeyDuringFullScreenChangesNothing)
{
    WriteKey(kKeyKBStatus, L"1");
    m_pMgr->m_bFullScreen = 1;
    m_pMgr->SwitchToNextStatus();
    EXPECT_EQ(1u, ReadNumber(kKeyKBStatus, 99));
    EXPECT_FALSE(glimtest::Contains(L"ShowOSD"));
    m_pMgr->m_bFullScreen = 0;
    m_pMgr->SwitchToNextStatus();
    EXPECT_EQ(2u, ReadNumber(kKeyKBStatus, 99));
    EXPECT_TRUE(AmbientRunning());
    EXPECT_TRUE(glimtest::Contains(L"ShowOSD"));
}

// Stopping the full-screen check during a period (the rule switched off, or the status set
// to Off) ends the period, since no verdict will: idle tracking as the status asks, the
// switch-off timer gone, and the next press cycles the status.
TEST_F(ManagerTest, StoppingTheCheckEndsAFullScreenPeriod)
{
    struct {
        const char* pszWhat;
        const wchar_t* pszKey;
        WPARAM wKind;
        bool bTracking;
        DWORD dwNext;
    } cases[] = {
        {"rule switched off", kKeyFullScreen5sClose, 3, true, 2},
        {"status set to Off", kKeyKBStatus, 0, false, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        ASSERT_NO_FATAL_FAILURE(StartCheckInOn());
        m_pMgr->FullScreenHandler(true);
        ASSERT_FALSE(Tracking());
        ASSERT_TRUE(m_pMgr->m_enterFullTimer.IsRunning());

        WriteKey(c.pszKey, L"0");
        m_pMgr->OnConfigChange(c.wKind, 0);
        EXPECT_FALSE(Monitoring());
        EXPECT_EQ(0, m_pMgr->m_bFullScreen);
        EXPECT_FALSE(m_pMgr->m_enterFullTimer.IsRunning());
        EXPECT_EQ(c.bTracking, Tracking());
        m_pMgr->SwitchToNextStatus();
        EXPECT_EQ(c.dwNext, ReadNumber(kKeyKBStatus, 99));
    }
}

// A verdict acts only while the check that made it still runs: a verdict of 1 from a check
// thread that was under way when the check stopped (status Off, rule switched off) or
// started again would begin a period that no later verdict ends, and the hotkey would stay
// dead. A verdict of the running check still starts and ends a period.
TEST_F(ManagerTest, VerdictOfAStoppedCheckIsIgnored)
{
    struct {
        const char* pszWhat;
        const wchar_t* pszKey;
        const wchar_t* pszValue;
        WPARAM wKind;
    } cases[] = {
        {"rule switched off", kKeyFullScreen5sClose, L"0", 3},
        {"status set to Off", kKeyKBStatus, L"0", 0},
        {"check started again", kKeyKBStatus, L"1", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        ASSERT_NO_FATAL_FAILURE(StartCheckInOn());
        const LPARAM lStopped = static_cast<LPARAM>(CFullScreen::GetInstance()->RunningCheck());
        WriteKey(c.pszKey, c.pszValue);
        m_pMgr->OnConfigChange(c.wKind, 0);
        glimtest::Clear();

        m_pMgr->OnFullScreenVerdict(1, lStopped);
        EXPECT_EQ(0, m_pMgr->m_bFullScreen);
        EXPECT_FALSE(glimtest::Contains(L"FullScreenHandler", L"CKBBackLightMgr::FullScreenHandler"));
        const DWORD dwBefore = ReadNumber(kKeyKBStatus, 99);
        m_pMgr->SwitchToNextStatus();
        EXPECT_NE(dwBefore, ReadNumber(kKeyKBStatus, 99)) << "the hotkey is dead";
    }

    ASSERT_NO_FATAL_FAILURE(StartCheckInOn());
    const LPARAM lRunning = static_cast<LPARAM>(CFullScreen::GetInstance()->RunningCheck());
    m_pMgr->OnFullScreenVerdict(1, lRunning);
    EXPECT_EQ(1, m_pMgr->m_bFullScreen);
    m_pMgr->OnFullScreenVerdict(0, lRunning);
    EXPECT_EQ(0, m_pMgr->m_bFullScreen);
}

namespace {
std::vector<LPARAM> g_verdictChecks;  // main thread only: the sink runs in SendMessageW's delivery

LRESULT CALLBACK VerdictSinkProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_FULLSCREEN) {
        g_verdictChecks.push_back(lParam);
        return 0;
    }
    return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}
}  // namespace

// Each check thread sends its verdict with the number of the check that started it.
TEST_F(ManagerTest, CheckThreadSendsItsCheckNumber)
{
    std::vector<LPARAM>& s_checks = g_verdictChecks;
    s_checks.clear();
    WNDCLASSW wc = {};
    wc.lpfnWndProc = VerdictSinkProc;
    wc.lpszClassName = L"GlimTestVerdictSink";
    RegisterClassW(&wc);
    HWND hSink = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, hSink);
    WriteKey(kKeyFullScreen5sClose, L"1");
    CFullScreen* pFullScreen = CFullScreen::GetInstance();
    pFullScreen->StartFullScreenMonitor(hSink);
    const DWORD dwFirst = pFullScreen->RunningCheck();
    pFullScreen->StartFullScreenMonitor(hSink);
    const DWORD dwSecond = pFullScreen->RunningCheck();
    EXPECT_NE(dwFirst, dwSecond) << "a start takes a new number";
    CFullScreen::FullScreenTimerProc();
    EXPECT_TRUE(WaitUntil([&] { return !s_checks.empty(); }, 10000));
    pFullScreen->StopFullScreenMonitor();
    DestroyWindow(hSink);
    ASSERT_EQ(1u, s_checks.size());
    EXPECT_EQ(static_cast<LPARAM>(dwSecond), s_checks[0]);
}

// A thread already in a single-threaded apartment cannot join the multithreaded one: Init
// gives up and says why, with the HRESULT.
TEST(ManagerInit, FailedComInitialisationIsLogged)
{
    glimtest::Clear();
    HRESULT hrApartment = E_FAIL;
    bool bInit = true;
    std::thread([&] {
        hrApartment = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        bInit = CKBBackLightMgr::GetInstance()->Init(nullptr, nullptr);
        CoUninitialize();
    }).join();
    ASSERT_EQ(S_OK, hrApartment);
    EXPECT_FALSE(bInit);
    EXPECT_TRUE(glimtest::Contains(L"CoInitializeEx failed, hr=0x80010106", L"CKBBackLightMgr::Init"));
}

// The threading contract's check: silent on the main thread; the first call of each entry
// point from another thread gives one 'E' line under its label, and later ones nothing more.
TEST(ManagerThreading, EachEntryPointCalledOffTheMainThreadIsLoggedOnce)
{
    const auto errorLines = [] {
        std::vector<glimtest::Line> lines;
        for (const glimtest::Line& line : glimtest::Lines()) {
            if (line.chLevel == 'E')
                lines.push_back(line);
        }
        return lines;
    };
    agent::RecordMainThread();
    glimtest::Clear();
    CKBBackLightMgr* pMgr = CKBBackLightMgr::GetInstance();
    pMgr->OnScreenOn();
    EXPECT_TRUE(errorLines().empty());

    std::thread([pMgr] {
        pMgr->OnScreenOn();
        pMgr->OnScreenOn();
    }).join();
    std::thread([pMgr] { pMgr->OnScreenOff(); }).join();
    std::thread([pMgr] {
        pMgr->OnScreenOff();
        pMgr->OnScreenOn();
    }).join();
    pMgr->OnScreenOff();
    const std::vector<glimtest::Line> lines = errorLines();
    ASSERT_EQ(2u, lines.size()) << "one line for each entry point's first breach";
    EXPECT_EQ(L"CKBBackLightMgr::OnScreenOn", lines[0].function);
    EXPECT_EQ(L"CKBBackLightMgr::OnScreenOff", lines[1].function);
    for (const glimtest::Line& line : lines)
        EXPECT_EQ(0u, line.message.find(L"called off the main thread"))
            << std::string(line.message.begin(), line.message.end());
}
