// The only way to reach the keyboard backlight: the filter driver's two requests and the
// status model kept in the settings file. Compiled into both programs; GLIMKIT_AGENT or
// GLIMKIT_SERVICE picks each program's set of operations.
#pragma once

#include <windows.h>

#include <atomic>

#include "Singleton.h"

#if !defined(GLIMKIT_AGENT) && !defined(GLIMKIT_SERVICE)
#error "Define GLIMKIT_AGENT or GLIMKIT_SERVICE"
#endif

namespace glim {

// One synchronous request on a freshly opened device handle. Returns the byte count the
// driver reported: 0 for a failed open, a failed request or an empty answer.
DWORD KBDeviceRequest(DWORD dwCode, INT32 nIn, INT32* pnOut);
}  // namespace glim

class CKBBackLight {
public:
    static CKBBackLight* GetInstance();
    virtual ~CKBBackLight();

    // Agent: records the level under CurrentKBBrightness when the device accepted it.
    bool SetKBBackLightBrightness(INT32 nLevel);
    DWORD GetKBStatus();
    DWORD GetKBBrightness();

#if defined(GLIMKIT_AGENT)
    INT32 GetKBBackLightBrightness();
    bool RecoverySlValueBrightness();
    void SetNextKBBackLightStatus();
#endif

#if defined(GLIMKIT_SERVICE)
    void SetKBStatus(DWORD dwStatus);
    void RecoveryCurrentBrightness();
    bool IsF12IntervaltimeMeetsRequirement();
#endif

private:
    CKBBackLight();
    template <typename T> friend T* glim::GetOrCreateInstance(std::atomic<T*>&, glim::CStaticCriticalSection&);
};
