#include "InputTracking.h"

#include <memory>

#include "../MainThread.h"
#include "GlimNames.h"
#include "SensingRules.h"
#include "SettingsFile.h"

using namespace glim;

int g_nInActiveSeconds = 0;
agent::CTimer g_inputTimer(&CInputTracking::InputTimerProc, agent::CTimer::Repeat::Every);
std::atomic<DWORD> g_dwLastActiveTick{0};
PFN_INACTIVE_HANDLER g_pfnInActiveHandler = nullptr;

namespace {
std::atomic<CInputTracking*> g_pInputTracking{nullptr};
CStaticCriticalSection g_csInputTracking;
}  // namespace

CInputTracking::CInputTracking() = default;
CInputTracking::~CInputTracking() = default;

CInputTracking* CInputTracking::GetInstance()
{
    return GetOrCreateInstance(g_pInputTracking, g_csInputTracking);
}

void CInputTracking::StopTracking()
{
    GLIM_ASSERT_MAIN_THREAD(L"CInputTracking::StopTracking");
    g_inputTimer.Cancel();
}

void CInputTracking::StartTracking()
{
    GLIM_ASSERT_MAIN_THREAD(L"CInputTracking::StartTracking");
    StopTracking();
    const std::unique_ptr<wchar_t[]> pszValue(CSettingsFile::GetInstance()->ReadString(kKeyInActiveTime));
    g_nInActiveSeconds = ParseInActiveTime(pszValue.get());
    if (g_nInActiveSeconds > 0)
        g_inputTimer.Start(1000);
}

void CInputTracking::UpdateLastActiveTime()
{
    GLIM_ASSERT_MAIN_THREAD(L"CInputTracking::UpdateLastActiveTime");
    const DWORD dwNow = GetTickCount();
    GetInstance();
    g_dwLastActiveTick = dwNow;
}

void CInputTracking::InputTimerProc()
{
    GLIM_ASSERT_MAIN_THREAD(L"CInputTracking::InputTimerProc");
    LASTINPUTINFO info = {};
    info.cbSize = sizeof(info);
    if (!GetLastInputInfo(&info))
        return;
    const DWORD dwNow = GetTickCount();
    const IdleVerdict verdict =
        JudgeIdle(dwNow, LaterTick(dwNow, g_dwLastActiveTick, info.dwTime), InActiveThresholdMs(g_nInActiveSeconds));
    if (!g_pfnInActiveHandler || verdict == IdleVerdict::None)
        return;
    g_pfnInActiveHandler(verdict == IdleVerdict::Inactive);
}
