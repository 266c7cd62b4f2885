// The full-screen video check in a process of its own (fullscreen_probe), with the
// display-required flag set through the stand-in powrprof.dll, the foreground window made
// by this test, and the simulated UI Automation client for the "YouTube" path.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>

#include "ChildProcess.h"
#include "GlimNames.h"
#include "SensingTestEnv.h"
#include "SimComServer.h"
#include "SimPower.h"
#include "SimUIADriver.h"
#include "UIAutomationDecl.h"

using namespace glim;
using namespace glimtest;

namespace {

constexpr DWORD kDisplayRequired = ES_DISPLAY_REQUIRED | ES_USER_PRESENT;
constexpr wchar_t kProbe[] = L"fullscreen_probe.exe";

struct ProbeRun {
    DWORD dwExitCode = 0xFFFFFFFF;
    std::wstring strLog;
    bool Logged(const std::wstring& message) const { return strLog.find(L"|" + message + L"\n") != std::wstring::npos; }
};

std::wstring ReadWide(const std::wstring& strPath)
{
    std::ifstream file(strPath.c_str(), std::ios::binary);
    std::stringstream ss;
    ss << file.rdbuf();
    const std::string strBytes = ss.str();
    const int cch = MultiByteToWideChar(CP_UTF8, 0, strBytes.data(), static_cast<int>(strBytes.size()), nullptr, 0);
    std::wstring strText(static_cast<size_t>(cch), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, strBytes.data(), static_cast<int>(strBytes.size()), &strText[0], cch);
    return strText;
}

}  // namespace

class FullScreenCheck : public ::testing::Test {
protected:
    static void SetUpTestSuite() { UsePrivateSettings(); }

    void SetUp() override
    {
        ASSERT_TRUE(m_override.Ok());
        ASSERT_TRUE(m_state.Ok());
        ASSERT_TRUE(m_uia.Ok()) << m_uia.Error();
        ASSERT_TRUE(m_uiaDriver.Ok());
        HMONITOR hPrimary = MonitorFromWindow(nullptr, MONITOR_DEFAULTTOPRIMARY);
        MONITORINFO info = {};
        info.cbSize = sizeof(info);
        ASSERT_TRUE(GetMonitorInfoW(hPrimary, &info));
        m_rcPrimary = info.rcMonitor;
        WriteKey(kKeyFullScreenScope, L" - Movies & TV| - YouTube - Browser|Player");
        WriteKey(kKeyFullScreen5sClose, 1);
    }

    void TearDown() override
    {
        if (m_hWnd)
            DestroyWindow(m_hWnd);
    }

    // A top-level window of this process in the foreground, with title and rectangle.
    void ShowForeground(const wchar_t* pszTitle, const RECT& rc)
    {
        if (m_hWnd)
            DestroyWindow(m_hWnd);
        m_hWnd = CreateWindowExW(WS_EX_TOPMOST, L"STATIC", pszTitle, WS_POPUP | WS_VISIBLE, rc.left, rc.top,
                                 rc.right - rc.left, rc.bottom - rc.top, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(nullptr, m_hWnd);
        SetForegroundWindow(m_hWnd);
        WaitUntil([this] { return GetForegroundWindow() == m_hWnd; }, 2000);
        if (GetForegroundWindow() != m_hWnd)
            GTEST_SKIP() << "this display does not let the test's window into the foreground";
    }

    ProbeRun RunProbe(const wchar_t* pszMode)
    {
        ProbeRun run;
        const std::wstring strLog = BesideProgram(L"simpower\\fullscreen_probe.log");
        DeleteFileW(strLog.c_str());
        CChildProcess probe;
        const DWORD dwError = probe.Start(BesideProgram(L"simpower\\fullscreen_probe.exe"),
                                          std::wstring(pszMode) + L" " + CChildProcess::QuoteArg(strLog));
        if (dwError != ERROR_SUCCESS) {
            ADD_FAILURE() << "starting the probe failed: " << dwError;
            return run;
        }
        // The probe may send to no window of ours, but keep serving messages meanwhile.
        WaitUntil([&probe] { return !probe.IsRunning(); }, 20000);
        if (!probe.WaitExit(0, &run.dwExitCode))
            run.dwExitCode = STILL_ACTIVE;
        probe.Terminate();
        run.strLog = ReadWide(strLog);
        return run;
    }

    RECT Shrunk(int dl, int dt, int dr, int db) const
    {
        return {m_rcPrimary.left + dl, m_rcPrimary.top + dt, m_rcPrimary.right - dr, m_rcPrimary.bottom - db};
    }

    CDllOverride m_override{kProbe, simpower::kModuleName};
    CSimExecutionState m_state{kDisplayRequired};
    CSimComRegistration m_uia{kCLSID_CUIAutomation, simuia::kDllName};
    CSimUIADriver m_uiaDriver;
    RECT m_rcPrimary = {};
    HWND m_hWnd = nullptr;
};

TEST_F(FullScreenCheck, StandInPowrProfIsLoadedAndItsStateHonoured)
{
    ShowForeground(L"Clip - Movies & TV", m_rcPrimary);
    ProbeRun run = RunProbe(L"check");
    std::wstring strLower = run.strLog;
    CharLowerBuffW(&strLower[0], static_cast<DWORD>(strLower.size()));
    EXPECT_NE(std::wstring::npos, strLower.find(L"\\simpower\\powrprof.dll")) << run.strLog;
    EXPECT_EQ(1u, run.dwExitCode) << run.strLog;
    for (const wchar_t* psz : {L"IsVedioPlayFullScreen", L"ES_DISPLAY_REQUIRED", L"WindowInScope",
                               L"WindowInPrimaryScreen", L"IsForegroundWindowFullScreen"})
        EXPECT_TRUE(run.Logged(psz)) << psz;
}

TEST_F(FullScreenCheck, NoDisplayRequestMeansNoVideo)
{
    ShowForeground(L"Clip - Movies & TV", m_rcPrimary);
    m_state.Set(ES_USER_PRESENT);
    ProbeRun run = RunProbe(L"check");
    EXPECT_EQ(0u, run.dwExitCode) << run.strLog;
    EXPECT_TRUE(run.Logged(L"IsVedioPlayFullScreen"));
    EXPECT_FALSE(run.Logged(L"ES_DISPLAY_REQUIRED"));
}

TEST_F(FullScreenCheck, TitleOutsideTheScopeListDoesNotCount)
{
    ShowForeground(L"Clip - Movies & Music", m_rcPrimary);
    ProbeRun run = RunProbe(L"check");
    EXPECT_EQ(0u, run.dwExitCode);
    EXPECT_TRUE(run.Logged(L"ES_DISPLAY_REQUIRED"));
    EXPECT_FALSE(run.Logged(L"WindowInScope"));
}

TEST_F(FullScreenCheck, EmptyScopeListMatchesNothing)
{
    WriteKey(kKeyFullScreenScope, L"");
    ShowForeground(L"Player", m_rcPrimary);
    EXPECT_EQ(0u, RunProbe(L"check").dwExitCode);
}

TEST_F(FullScreenCheck, WindowOnePixelShortOnAnySideDoesNotCount)
{
    const RECT cases[] = {Shrunk(1, 0, 0, 0), Shrunk(0, 1, 0, 0), Shrunk(0, 0, 1, 0), Shrunk(0, 0, 0, 1)};
    for (const RECT& rc : cases) {
        ShowForeground(L"Clip - Movies & TV", rc);
        ProbeRun run = RunProbe(L"check");
        EXPECT_EQ(0u, run.dwExitCode) << rc.left << "," << rc.top << "," << rc.right << "," << rc.bottom;
        EXPECT_TRUE(run.Logged(L"WindowInPrimaryScreen"));
        EXPECT_FALSE(run.Logged(L"IsForegroundWindowFullScreen"));
    }
    ShowForeground(L"Clip - Movies & TV", Shrunk(-3, -3, -3, -3));
    EXPECT_EQ(1u, RunProbe(L"check").dwExitCode) << "beyond the monitor on every side";
}

TEST_F(FullScreenCheck, YouTubeCountsOnlyWhenItsPlayerCoversTheMonitor)
{
    ShowForeground(L"Cats - YouTube - Browser", m_rcPrimary);
    m_uiaDriver.SetMovie(Shrunk(0, 60, 0, 0));
    ProbeRun run = RunProbe(L"check");
    EXPECT_EQ(0u, run.dwExitCode) << "the window covers the monitor, the player does not";
    EXPECT_EQ(1, m_uiaDriver.State().nFindFirstCalls);

    m_uiaDriver.SetMovie(m_rcPrimary);
    run = RunProbe(L"check");
    EXPECT_EQ(1u, run.dwExitCode) << run.strLog;
    EXPECT_TRUE(run.Logged(L"YouTubeFullScreen"));
}

TEST_F(FullScreenCheck, YouTubeMatchIgnoresCase)
{
    WriteKey(kKeyFullScreenScope, L"Player");
    ShowForeground(L"youtube Player", Shrunk(0, 0, 0, 0));
    m_uiaDriver.SetMovie(Shrunk(0, 0, 0, 1));
    EXPECT_EQ(0u, RunProbe(L"check").dwExitCode) << "a lower-case title takes the automation path too";
}

TEST_F(FullScreenCheck, YouTubeWithoutAutomationElementCounts)
{
    ShowForeground(L"Cats - YouTube - Browser", Shrunk(0, 0, 0, 40));
    m_uiaDriver.SetNoElement(true);
    ProbeRun run = RunProbe(L"check");
    EXPECT_EQ(1u, run.dwExitCode) << run.strLog;
    EXPECT_TRUE(run.Logged(L"YouTubeFullScreen"));
}

TEST_F(FullScreenCheck, YouTubeWithoutAutomationClientCounts)
{
    ShowForeground(L"Cats - YouTube - Browser", Shrunk(0, 0, 0, 40));
    {
        CSimComRegistration removed(kCLSID_CUIAutomation, simuia::kDllName);
    }
    ProbeRun run = RunProbe(L"check");
    EXPECT_EQ(1u, run.dwExitCode) << run.strLog;
    EXPECT_TRUE(run.Logged(L"g_pAutomation == NULL"));
}

TEST_F(FullScreenCheck, PeriodicCheckSendsItsVerdictToTheWindow)
{
    ShowForeground(L"Clip - Movies & TV", m_rcPrimary);
    EXPECT_EQ(1u, RunProbe(L"monitor").dwExitCode);
    m_state.Set(ES_USER_PRESENT);
    EXPECT_EQ(0u, RunProbe(L"monitor").dwExitCode);
}

TEST_F(FullScreenCheck, PeriodicCheckRunsOnlyWhenTheRuleIsOn)
{
    WriteKey(kKeyFullScreen5sClose, 0);
    EXPECT_EQ(20u, RunProbe(L"monitor").dwExitCode);
}
