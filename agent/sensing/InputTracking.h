// User idle tracking: once a second the time since the last input is compared with the
// InActiveTime setting, and the manager's handler gets the verdict.
#pragma once

#include <windows.h>

#include <atomic>

#include "../Timer.h"
#include "Singleton.h"

// Receives the idle verdict: true when the idle time is reached, false on fresh input.
using PFN_INACTIVE_HANDLER = void (*)(bool bInActive);

// Who touches these from which thread: the table at the top of KBBackLightMgr.h.
extern int g_nInActiveSeconds;                 // parsed InActiveTime; 0 when tracking is off
extern agent::CTimer g_inputTimer;             // the 1-second tick; stopped while not tracking
extern std::atomic<DWORD> g_dwLastActiveTick;  // activity the agent noted itself (relayed presses)
extern PFN_INACTIVE_HANDLER g_pfnInActiveHandler;

class CInputTracking {
public:
    static CInputTracking* GetInstance();
    virtual ~CInputTracking();

    void StartTracking();
    void StopTracking();
    static void UpdateLastActiveTime();

    bool IsTracking() const { return g_inputTimer.IsRunning(); }

    // The tick: compares the idle time with the setting.
    static void InputTimerProc();

private:
    CInputTracking();
    template <typename T>
    friend T* glim::GetOrCreateInstance(std::atomic<T*>&, glim::CStaticCriticalSection&);
};
