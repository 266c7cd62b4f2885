// The idle tracking's entry points as the manager and the main window call them. The idle
// timer and the InActiveTime parsing are not built yet: start and stop only record whether
// tracking runs; UpdateLastActiveTime notes the moment of activity.
#pragma once

#include <windows.h>

#include <atomic>

#include "Singleton.h"

// Called by the idle timer: true when the idle time is reached, false on fresh input.
using PFN_INACTIVE_HANDLER = void (*)(bool bInActive);
extern PFN_INACTIVE_HANDLER g_pfnInActiveHandler;

// The last moment of activity that the agent noted itself (GetTickCount); 0 until then.
extern std::atomic<DWORD> g_dwLastActiveTick;

class CInputTracking {
public:
    static CInputTracking* GetInstance();
    virtual ~CInputTracking();

    static void UpdateLastActiveTime();
    void StartTracking();
    void StopTracking();

    bool IsTracking() const { return m_bTracking; }

private:
    CInputTracking();
    template <typename T> friend T* glim::GetOrCreateInstance(std::atomic<T*>&, glim::CStaticCriticalSection&);

    bool m_bTracking;
};
