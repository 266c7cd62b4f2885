#include "FullScreen.h"

#include <powrprof.h>
#include <shlwapi.h>

#include <memory>

#include "../MainThread.h"
#include "GlimLog.h"
#include "GlimNames.h"
#include "SensingRules.h"
#include "SettingsFile.h"
#include "ThreadStart.h"
#include "UIAutomation.h"

using namespace glim;

std::wstring g_strScopeWindowName;
agent::CTimer g_fullScreenTimer(&CFullScreen::FullScreenTimerProc, agent::CTimer::Repeat::Every);
std::atomic<HWND> g_hNotifyWnd{nullptr};
DWORD g_dwFullScreenCheck = 0;

namespace {
std::atomic<CFullScreen*> g_pFullScreen{nullptr};
CStaticCriticalSection g_csFullScreen;

constexpr int kTitleChars = 1000;
constexpr UINT kCheckPeriodMs = 2000;

void ForegroundTitle(wchar_t (&szTitle)[kTitleChars])
{
    szTitle[0] = L'\0';
    GetWindowTextW(GetForegroundWindow(), szTitle, kTitleChars);
}
}  // namespace

CFullScreen::CFullScreen()
{
    // The scope list is read once, when the instance is created.
    const std::unique_ptr<wchar_t[]> pszScope(CSettingsFile::GetInstance()->ReadString(kKeyFullScreenScope));
    g_strScopeWindowName = pszScope ? pszScope.get() : L"";
}

CFullScreen::~CFullScreen() = default;

CFullScreen* CFullScreen::GetInstance()
{
    return GetOrCreateInstance(g_pFullScreen, g_csFullScreen);
}

void CFullScreen::StartFullScreenMonitor(HWND hWnd)
{
    GLIM_ASSERT_MAIN_THREAD(L"CFullScreen::StartFullScreenMonitor");
    StopFullScreenMonitor();
    if (CSettingsFile::GetInstance()->ReadInt(kKeyFullScreen5sClose, kDefFullScreen5sClose) == 0)
        return;
    CUIAutomation::GetInstance()->InitializeUIAutomation();
    if (!g_fullScreenTimer.IsRunning()) {
        g_hNotifyWnd = hWnd;
        g_dwFullScreenCheck = NextFullScreenCheck(g_dwFullScreenCheck);
        g_fullScreenTimer.Start(kCheckPeriodMs);
    }
}

void CFullScreen::StopFullScreenMonitor()
{
    GLIM_ASSERT_MAIN_THREAD(L"CFullScreen::StopFullScreenMonitor");
    g_fullScreenTimer.Cancel();
}

void CFullScreen::FullScreenTimerProc()
{
    GLIM_ASSERT_MAIN_THREAD(L"CFullScreen::FullScreenTimerProc");
    // A check that cannot start leaves the last verdict in place until the next tick.
    GLIM_BEGIN_THREAD(L"CFullScreen::FullScreenTimerProc", L"FullScreenCheckThread", FullScreenCheckThread,
                      reinterpret_cast<void*>(static_cast<UINT_PTR>(g_dwFullScreenCheck)));
}

void __cdecl CFullScreen::FullScreenCheckThread(void* pArg)
{
    const int nResult = GetInstance()->IsVedioPlayFullScreen();
    SendMessageW(g_hNotifyWnd, WM_FULLSCREEN, static_cast<WPARAM>(nResult),
                 static_cast<LPARAM>(reinterpret_cast<UINT_PTR>(pArg)));
}

bool CFullScreen::IsVerdictCurrent(LPARAM lCheck) const
{
    return IsVerdictOfRunningCheck(lCheck, IsMonitoring(), g_dwFullScreenCheck);
}

int CFullScreen::IsVedioPlayFullScreen()
{
    static const wchar_t kLabel[] = L"CFullScreen::IsVedioPlayFullScreen";
    GLIM_LOG('D', kLabel, L"IsVedioPlayFullScreen");

    EXECUTION_STATE state = 0;
    if (CallNtPowerInformation(SystemExecutionState, nullptr, 0, &state, sizeof(state)) != 0 ||
        !(state & ES_DISPLAY_REQUIRED))
        return 0;
    GLIM_LOG('D', kLabel, L"ES_DISPLAY_REQUIRED");

    if (!IsWindowInScope())
        return 0;
    GLIM_LOG('D', kLabel, L"WindowInScope");

    HWND hForeground = GetForegroundWindow();
    if (!IsWindowInPrimaryScreen(hForeground))
        return 0;
    GLIM_LOG('D', kLabel, L"WindowInPrimaryScreen");

    wchar_t szTitle[kTitleChars] = {};
    GetWindowTextW(hForeground, szTitle, kTitleChars);
    if (StrStrIW(szTitle, L"YouTube")) {
        CUIAutomation* pAutomation = CUIAutomation::GetInstance();
        CComRef<IUIAutomationElement> element;
        int nResult = 0;
        IUIAutomation* pClient = g_pAutomation.load();
        if (pClient && SUCCEEDED(pClient->ElementFromHandle(hForeground, element.Put())) && element)
            nResult = pAutomation->IsWindowContainFullMovie(element.Detach());  // it takes the reference over
        else
            nResult = (state != 0) ? 1 : 0;  // no automation element: the window counts as full screen
        if (!nResult)
            return 0;
        GLIM_LOG('D', kLabel, L"YouTubeFullScreen");
        return 1;
    }

    if (!IsForegroundWindowFullScreen())
        return 0;
    GLIM_LOG('D', kLabel, L"IsForegroundWindowFullScreen");
    return 1;
}

int CFullScreen::IsForegroundWindowFullScreen()
{
    HWND hForeground = GetForegroundWindow();
    HMONITOR hMonitor = MonitorFromWindow(hForeground, MONITOR_DEFAULTTOPRIMARY);
    MONITORINFO info = {};
    info.cbSize = sizeof(info);
    RECT rcWindow = {};
    if (!GetMonitorInfoW(hMonitor, &info) || !GetWindowRect(hForeground, &rcWindow))
        return 0;
    return RectCoversMonitor(rcWindow, info.rcMonitor);
}

int CFullScreen::IsWindowInScope()
{
    wchar_t szTitle[kTitleChars] = {};
    ForegroundTitle(szTitle);
    return IsTitleInScope(g_strScopeWindowName.c_str(), szTitle);
}

int CFullScreen::IsWindowInPrimaryScreen(HWND hWnd)
{
    static const wchar_t kLabel[] = L"CFullScreen::IsWindowInPrimaryScreen";
    HMONITOR hMonitor = MonitorFromWindow(hWnd, MONITOR_DEFAULTTONULL);
    GLIM_LOG('D', kLabel, L"hMonitor is %0x", static_cast<unsigned>(reinterpret_cast<UINT_PTR>(hMonitor)));
    const POINT ptOrigin = {0, 0};
    HMONITOR hPrimary = MonitorFromPoint(ptOrigin, MONITOR_DEFAULTTOPRIMARY);
    GLIM_LOG('D', kLabel, L"hPrimaryMonitor is %0x", static_cast<unsigned>(reinterpret_cast<UINT_PTR>(hPrimary)));
    return (hMonitor && hMonitor == hPrimary) ? 1 : 0;
}
