#include "PowerMonitor.h"

#include <cstring>

#include "GlimLog.h"
#include "KBBackLightMgr.h"
#include "MainThread.h"

using namespace glim;

namespace {
std::atomic<CPowerMonitor*> g_pPowerMonitor{nullptr};
CStaticCriticalSection g_csPowerMonitor;

// GUID_CONSOLE_DISPLAY_STATE, spelled out so no initguid translation unit is needed.
constexpr GUID kConsoleDisplayState = {0x6fe69556, 0x704a, 0x47a0, {0x8f, 0x24, 0xc2, 0x8d, 0x93, 0x6f, 0xda, 0x47}};
}  // namespace

int power::ConsoleDisplayState(const POWERBROADCAST_SETTING* pSetting)
{
    if (!pSetting || std::memcmp(&pSetting->PowerSetting, &kConsoleDisplayState, sizeof(GUID)) != 0)
        return -1;
    if (pSetting->DataLength < 1)
        return -1;
    return pSetting->Data[0];
}

CPowerMonitor::CPowerMonitor() = default;

CPowerMonitor::~CPowerMonitor() = default;

CPowerMonitor* CPowerMonitor::GetInstance()
{
    return GetOrCreateInstance(g_pPowerMonitor, g_csPowerMonitor);
}

void CPowerMonitor::InitPowerMonitor(HWND hWnd)
{
    static const wchar_t kLabel[] = L"CPowerMonitor::InitPowerMonitor";
    GLIM_ASSERT_MAIN_THREAD(kLabel);
    m_hPowerNotify.Reset(RegisterPowerSettingNotification(hWnd, &kConsoleDisplayState, DEVICE_NOTIFY_WINDOW_HANDLE));
    if (!m_hPowerNotify)
        GLIM_LOG('E', kLabel, L"Failed to register for notification of console display source changes!");
}

void CPowerMonitor::UninitPowerMonitor()
{
    GLIM_ASSERT_MAIN_THREAD(L"CPowerMonitor::UninitPowerMonitor");
    m_hPowerNotify.Reset();
}

void CPowerMonitor::OnPowerBroadcast(WPARAM wParam, LPARAM lParam)
{
    static const wchar_t kLabel[] = L"CPowerMonitor::OnPowerBroadcast";
    GLIM_ASSERT_MAIN_THREAD(kLabel);
    switch (wParam) {
    case PBT_APMSUSPEND: GLIM_LOG('D', kLabel, L"PBT_APMSUSPEND"); break;
    case PBT_APMRESUMESUSPEND: GLIM_LOG('D', kLabel, L"PBT_APMRESUMESUSPEND"); break;
    case PBT_APMPOWERSTATUSCHANGE: GLIM_LOG('D', kLabel, L"PBT_APMPOWERSTATUSCHANGE"); break;
    case PBT_POWERSETTINGCHANGE:
        switch (power::ConsoleDisplayState(reinterpret_cast<const POWERBROADCAST_SETTING*>(lParam))) {
        case 0: CKBBackLightMgr::GetInstance()->OnScreenOff(); break;
        case 1: CKBBackLightMgr::GetInstance()->OnScreenOn(); break;
        default: break;  // dimmed, or another setting
        }
        break;
    default: break;
    }
}
