// The console display's on/off notification and the system's power transitions, as they
// reach the agent's main window. Every reaction is a log line; nothing else changes.
#pragma once

#include <windows.h>

#include <atomic>

#include "ScopedHandle.h"
#include "Singleton.h"

namespace power {

// The display state carried by a PBT_POWERSETTINGCHANGE: 0 off, 1 on, 2 dimmed (first data
// byte). -1 when the setting is not the console display state or carries no data.
int ConsoleDisplayState(const POWERBROADCAST_SETTING* pSetting);

}  // namespace power

class CPowerMonitor {
public:
    static CPowerMonitor* GetInstance();
    virtual ~CPowerMonitor();

    void InitPowerMonitor(HWND hWnd);
    void UninitPowerMonitor();
    void OnPowerBroadcast(WPARAM wParam, LPARAM lParam);

private:
    CPowerMonitor();
    template <typename T>
    friend T* glim::GetOrCreateInstance(std::atomic<T*>&, glim::CStaticCriticalSection&);

    glim::CScopedPowerNotify m_hPowerNotify;
};
