// Full-screen video detection: every 2 seconds a short-lived thread tests whether a video
// plays full screen in one of the configured windows and sends the answer (WM_FULLSCREEN,
// wParam 1 or 0, lParam the number of the check's start) to the manager's window.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

#include "../Timer.h"
#include "Singleton.h"

// Who touches these from which thread: the table at the top of KBBackLightMgr.h.
extern std::wstring g_strScopeWindowName;  // InFullScreenScopeWindowName, read once
extern agent::CTimer g_fullScreenTimer;    // the 2-second tick; stopped while not monitoring
extern std::atomic<HWND> g_hNotifyWnd;     // receives WM_FULLSCREEN; read by the check threads
extern DWORD g_dwFullScreenCheck;          // the number of the latest start (NextFullScreenCheck)

class CFullScreen {
public:
    static CFullScreen* GetInstance();
    virtual ~CFullScreen();

    void StartFullScreenMonitor(HWND hWnd);
    void StopFullScreenMonitor();
    bool IsMonitoring() const { return g_fullScreenTimer.IsRunning(); }
    // The running check's number, which its threads send as WM_FULLSCREEN's lParam.
    DWORD RunningCheck() const { return g_dwFullScreenCheck; }
    // Whether a verdict sent with lParam lCheck may act (IsVerdictOfRunningCheck).
    bool IsVerdictCurrent(LPARAM lCheck) const;

    // The tick: starts one check thread.
    static void FullScreenTimerProc();
    // pArg: the number of the check that started the thread, sent back with the verdict.
    static void __cdecl FullScreenCheckThread(void* pArg);

    int IsVedioPlayFullScreen();
    int IsWindowInScope();
    int IsWindowInPrimaryScreen(HWND hWnd);

private:
    CFullScreen();
    template <typename T>
    friend T* glim::GetOrCreateInstance(std::atomic<T*>&, glim::CStaticCriticalSection&);
    int IsForegroundWindowFullScreen();
};
