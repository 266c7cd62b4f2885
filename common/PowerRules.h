// When the service puts the recorded level back after a wake. A wake the user is there for
// is a resume from user input (PBT_APMRESUMESUSPEND) or, on a machine with Modern Standby
// (AoAc), the display coming back on: there, leaving standby is not a classic resume. A wake
// with nobody there (PBT_APMRESUMEAUTOMATIC alone: a timer, a closed lid) leaves the light
// alone. Shared by the service, which acts on it, and glimctl, which shows it.
#pragma once

#include <windows.h>

namespace glim {

constexpr DWORD kPbtSuspend = 4;                  // PBT_APMSUSPEND
constexpr DWORD kPbtResumeSuspend = 7;            // PBT_APMRESUMESUSPEND
constexpr DWORD kPbtPowerSettingChange = 0x8013;  // PBT_POWERSETTINGCHANGE

// GUID_MONITOR_POWER_ON's values.
constexpr DWORD kMonitorOff = 0;
constexpr DWORD kMonitorOn = 1;

enum class PowerAction {
    None,                   // ignored
    LogSuspend,             // PBT_APMSUSPEND: logged only
    RestoreAfterResume,     // PBT_APMRESUMESUSPEND
    RestoreAfterDisplayOn,  // GUID_MONITOR_POWER_ON on after off, Modern Standby only
};

struct SPowerStep {
    PowerAction action = PowerAction::None;
    bool bDisplayOff = false;  // the display state to carry to the next event
};

// Whether the display coming back on counts as a wake the user is there for.
bool RestoresOnDisplayOn(bool bModernStandby);

// The value of a power-setting change for one setting: false for another setting, no data,
// or data shorter than a DWORD (the length is checked before the value is read).
bool ReadPowerSettingValue(const POWERBROADCAST_SETTING* pSetting, const GUID& setting, DWORD* pdwValue);

// What one SERVICE_CONTROL_POWEREVENT asks for. bDisplayOff is the display state the last
// GUID_MONITOR_POWER_ON change left (false until one says off, so the change Windows sends
// straight after the registration restores nothing). The event data is read only for
// PBT_POWERSETTINGCHANGE and only when the display rule applies; for every other event it
// may be anything, NULL included.
SPowerStep NextPowerStep(bool bModernStandby, DWORD dwEventType, const void* pvEventData, bool bDisplayOff);

}  // namespace glim
