// The agent's threading contract, checked where it matters: the manager, its timers, the OSD,
// the sensing side's start and stop and the power monitor run on the main thread only (the
// table at the top of KBBackLightMgr.h). A call from any other thread is logged once per
// process, as an 'E' line under the entry point's label; the program carries on.
#pragma once

#include <windows.h>

#include <atomic>

#include "GlimLog.h"

namespace agent {

inline std::atomic<DWORD> g_dwMainThreadId{0};
inline std::atomic<bool> g_bOffMainThreadLogged{false};

// The main instance's thread records itself before its main window exists. Until then
// (a relay, or code driven without a main instance) nothing is checked.
inline void RecordMainThread()
{
    g_dwMainThreadId = GetCurrentThreadId();
}

inline void CheckMainThread(const wchar_t* pszFunction, int nLine)
{
    const DWORD dwMain = g_dwMainThreadId.load(std::memory_order_relaxed);
    const DWORD dwThread = GetCurrentThreadId();
    if (dwMain == 0 || dwThread == dwMain || g_bOffMainThreadLogged.exchange(true))
        return;
    GlimLog('E', pszFunction, nLine, L"called off the main thread (thread %u, main thread %u)",
            static_cast<unsigned>(dwThread), static_cast<unsigned>(dwMain));
}

}  // namespace agent

// pszLabel: the entry point's log label ("CClass::Method").
#define GLIM_ASSERT_MAIN_THREAD(pszLabel) ::agent::CheckMainThread((pszLabel), __LINE__)
