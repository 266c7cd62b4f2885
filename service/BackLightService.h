// Glimward's work on the service framework: the hotkey read loop, started before the
// service reports itself and left before it stops, and the power reaction that puts the
// recorded level back after a resume or when the display comes back on.
#pragma once

#include <windows.h>

#include "ScopedHandle.h"
#include "Service.h"

class CBackLightService : public CService {
public:
    static constexpr int kPowerNotifyCount = 4;

    DWORD EnterMainLoop(DWORD dwArgc, LPWSTR* lpszArgv) override;
    DWORD BeforeMainLoop(SERVICE_STATUS_HANDLE hStatus) override;
    DWORD AfterMainLoop(SERVICE_STATUS_HANDLE hStatus) override;
    DWORD LeaveMainLoop() override;
    DWORD OnPowerEvent(DWORD dwEventType, LPVOID lpEventData) override;

    glim::CScopedDevNotify m_hDevNotify;
    glim::CScopedPowerNotify m_hPowerNotify[kPowerNotifyCount];
    // The power-event state, used on the control handler's thread only (the control manager
    // hands over one control at a time). BeforeMainLoop sets m_bModernStandby from the
    // machine's capabilities; m_bDisplayOff is what the last GUID_MONITOR_POWER_ON said.
    BOOL m_bModernStandby = FALSE;
    BOOL m_bDisplayOff = FALSE;
};
