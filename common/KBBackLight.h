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

#if defined(GLIMKIT_SERVICE)
// How a restore reaches the recorded level and the device. The service reads the settings
// file and sets the device; a test wraps both to cross them with the agent's own set.
struct SLevelPort {
    INT32 (*pfnReadRecorded)(void* pvContext);
    bool (*pfnSetDevice)(void* pvContext, INT32 nLevel);
    void* pvContext;
};

// Times a restore reads the recorded level again after setting it.
constexpr int kRestoreFollowLimit = 3;

// Reads the recorded level, logs it and sets it; then reads it again and sets the new value
// while it keeps changing, at most kRestoreFollowLimit times. A level the agent sets and
// records between the restore's read and its set is seen by the read after the set, so the
// restore does not leave the older level on the device. Returns the level last set.
INT32 RestoreRecordedLevel(const SLevelPort& port);
#endif
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
    template <typename T>
    friend T* glim::GetOrCreateInstance(std::atomic<T*>&, glim::CStaticCriticalSection&);
};
