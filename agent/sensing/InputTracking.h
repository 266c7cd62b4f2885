// User idle tracking: once a second the time since the last input is compared with the
// InActiveTime setting, and the manager's handler gets the verdict.
#pragma once

#include <windows.h>

#include <atomic>

#include "Singleton.h"

// Receives the idle verdict: true when the idle time is reached, false on fresh input.
using PFN_INACTIVE_HANDLER = void (*)(bool bInActive);

// Who touches these from which thread: the table at the top of KBBackLightMgr.h.
extern int g_nInActiveSeconds;            // parsed InActiveTime; 0 when tracking is off
extern UINT_PTR g_nInputTimer;            // the 1-second thread timer; 0 while stopped
extern std::atomic<DWORD> g_dwLastActiveTick;  // activity the agent noted itself (relayed presses)
extern PFN_INACTIVE_HANDLER g_pfnInActiveHandler;

class CInputTracking {
public:
    static CInputTracking* GetInstance();
    virtual ~CInputTracking();

    void StartTracking();
    void StopTracking();
    static void UpdateLastActiveTime();

    bool IsTracking() const { return g_nInputTimer != 0; }

    static void CALLBACK InputTimerProc(HWND hWnd, UINT uMsg, UINT_PTR idEvent, DWORD dwTime);

private:
    CInputTracking();
    template <typename T> friend T* glim::GetOrCreateInstance(std::atomic<T*>&, glim::CStaticCriticalSection&);
};
