#include "BackLightService.h"

#include <dbt.h>
#include <powrprof.h>

#include "GlimLog.h"
#include "KBBackLight.h"
#include "PowerRules.h"
#include "ReadLoop.h"
#include "Win32Compat.h"

// The log labels are the framework's hook names: the service log has always named them so.

DWORD CBackLightService::EnterMainLoop(DWORD, LPWSTR*)
{
    static const wchar_t kLabel[] = L"CService::EnterMainLoop";
    GLIM_LOG('D', kLabel, L"tovin EnterMainLoop");
    CKBBackLight::GetInstance()->RecoveryCurrentBrightness();
    // A read thread whose wait fails ends, and with it the service (MainLoop).
    return glim::StartReadThread(kLabel, &m_hWorker);
}

DWORD CBackLightService::LeaveMainLoop()
{
    return glim::StopAgentStarts(L"CService::LeaveMainLoop");
}

DWORD CBackLightService::BeforeMainLoop(SERVICE_STATUS_HANDLE hStatus)
{
    static const wchar_t kLabel[] = L"CService::BeforeMainLoop";
    DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
    filter.dbcc_size = 32;  // the record without its name, as the registration expects
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    m_hDevNotify.Reset(RegisterDeviceNotificationW(hStatus, &filter,
                                                   DEVICE_NOTIFY_SERVICE_HANDLE | DEVICE_NOTIFY_ALL_INTERFACE_CLASSES));
    m_hPowerNotify[0].Reset(
        RegisterPowerSettingNotification(hStatus, &GUID_BATTERY_PERCENTAGE_REMAINING, DEVICE_NOTIFY_SERVICE_HANDLE));
    m_hPowerNotify[1].Reset(
        RegisterPowerSettingNotification(hStatus, &GUID_ACDC_POWER_SOURCE, DEVICE_NOTIFY_SERVICE_HANDLE));
    m_hPowerNotify[2].Reset(
        RegisterPowerSettingNotification(hStatus, &GUID_ACTIVE_POWERSCHEME, DEVICE_NOTIFY_SERVICE_HANDLE));
    SYSTEM_POWER_CAPABILITIES caps = {};
    GetPwrCapabilities(&caps);
    const BOOLEAN bAoAc = PowerCapabilitiesAoAc(caps);
    GLIM_LOG('D', kLabel, L"Modern Standby AoAc: %d;", static_cast<int>(bAoAc));
    m_bModernStandby = bAoAc ? TRUE : FALSE;
    if (bAoAc)
        m_hPowerNotify[3].Reset(
            RegisterPowerSettingNotification(hStatus, &GUID_MONITOR_POWER_ON, DEVICE_NOTIFY_SERVICE_HANDLE));
    return ERROR_SUCCESS;
}

DWORD CBackLightService::AfterMainLoop(SERVICE_STATUS_HANDLE hStatus)
{
    m_hDevNotify.Reset();
    for (glim::CScopedPowerNotify& hNotify : m_hPowerNotify)
        hNotify.Reset();
    return CService::AfterMainLoop(hStatus);
}

DWORD CBackLightService::OnPowerEvent(DWORD dwEventType, LPVOID lpEventData)
{
    static const wchar_t kLabel[] = L"CService::OnPowerEvent";
    const glim::SPowerStep step =
        glim::NextPowerStep(m_bModernStandby != FALSE, dwEventType, lpEventData, m_bDisplayOff != FALSE);
    m_bDisplayOff = step.bDisplayOff ? TRUE : FALSE;
    switch (step.action) {
    case glim::PowerAction::LogSuspend: GLIM_LOG('D', kLabel, L"tovin PBT_APMSUSPEND"); break;
    case glim::PowerAction::RestoreAfterResume:
        GLIM_LOG('D', kLabel, L"tovin PBT_APMRESUMESUSPEND");
        CKBBackLight::GetInstance()->RecoveryCurrentBrightness();
        break;
    case glim::PowerAction::RestoreAfterDisplayOn:
        // Leaving Modern Standby: the display is back on for the user.
        GLIM_LOG('D', kLabel, L"tovin GUID_MONITOR_POWER_ON display on after off");
        CKBBackLight::GetInstance()->RecoveryCurrentBrightness();
        break;
    case glim::PowerAction::None: break;
    }
    return ERROR_SUCCESS;
}
