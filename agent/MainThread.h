// The agent's threading contract, checked where it matters: the manager, its timers, the OSD,
// the sensing side's start and stop and the power monitor run on the main thread only (the
// table at the top of KBBackLightMgr.h). The first call of each entry point from another
// thread is logged, as an 'E' line under the entry point's label; the program carries on.
#pragma once

#include <windows.h>

#include <atomic>

#include "GlimLog.h"

namespace agent {

inline std::atomic<DWORD> g_dwMainThreadId{0};

// The main instance's thread records itself before its main window exists. Until then
// (a relay, or code driven without a main instance) nothing is checked.
inline void RecordMainThread()
{
    g_dwMainThreadId = GetCurrentThreadId();
}

// bLogged: the entry point's own note that its breach has been logged.
inline void CheckMainThread(const wchar_t* pszFunction, int nLine, std::atomic<bool>& bLogged)
{
    const DWORD dwMain = g_dwMainThreadId.load(std::memory_order_relaxed);
    const DWORD dwThread = GetCurrentThreadId();
    if (dwMain == 0 || dwThread == dwMain || bLogged.exchange(true))
        return;
    GlimLog('E', pszFunction, nLine, L"called off the main thread (thread %u, main thread %u)",
            static_cast<unsigned>(dwThread), static_cast<unsigned>(dwMain));
}

}  // namespace agent

// pszLabel: the entry point's log label ("CClass::Method"). Each use keeps its own note.
#define GLIM_ASSERT_MAIN_THREAD(pszLabel)                                                                              \
    do {                                                                                                               \
        static std::atomic<bool> s_bOffMainThreadLogged{false};                                                        \
        ::agent::CheckMainThread((pszLabel), __LINE__, s_bOffMainThreadLogged);                                        \
    } while (0)
