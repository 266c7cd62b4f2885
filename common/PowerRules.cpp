#include "PowerRules.h"

#include <cstddef>
#include <cstring>

namespace glim {

bool RestoresOnDisplayOn(bool bModernStandby)
{
    return bModernStandby;
}

bool ReadPowerSettingValue(const POWERBROADCAST_SETTING* pSetting, const GUID& setting, DWORD* pdwValue)
{
    if (!pSetting || !IsEqualGUID(pSetting->PowerSetting, setting) || pSetting->DataLength < sizeof(DWORD))
        return false;
    // Data need not be aligned for a DWORD.
    std::memcpy(pdwValue, pSetting->Data, sizeof(DWORD));
    return true;
}

SPowerStep NextPowerStep(bool bModernStandby, DWORD dwEventType, const void* pvEventData, bool bDisplayOff)
{
    SPowerStep step;
    step.bDisplayOff = bDisplayOff;
    switch (dwEventType) {
    case kPbtSuspend: step.action = PowerAction::LogSuspend; return step;
    case kPbtResumeSuspend: step.action = PowerAction::RestoreAfterResume; return step;
    case kPbtPowerSettingChange: break;
    default: return step;
    }
    DWORD dwValue = 0;
    if (!RestoresOnDisplayOn(bModernStandby) ||
        !ReadPowerSettingValue(static_cast<const POWERBROADCAST_SETTING*>(pvEventData), GUID_MONITOR_POWER_ON,
                               &dwValue))
        return step;
    if (dwValue == kMonitorOff) {
        step.bDisplayOff = true;
    } else if (dwValue == kMonitorOn) {
        step.bDisplayOff = false;
        if (bDisplayOff)
            step.action = PowerAction::RestoreAfterDisplayOn;
    }
    // Any other value (dimmed) neither restores nor changes what the display was.
    return step;
}

}  // namespace glim
