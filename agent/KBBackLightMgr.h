// The agent's central manager: puts the backlight into the stored status at start-up,
// listens for relayed hotkey presses and settings notices, and applies them on the main
// thread through the hidden main window.
//
// Threading contract of the agent. Only the main thread acts on the manager; every other
// thread hands its result to the main window with SendMessageW and waits until it is
// handled, except the Sensor API's callbacks: the main thread may be detaching a sensor,
// which waits for that sensor's callbacks in flight, so they post and never wait.
//
// | thread                          | reads                           | writes          | reaches the manager by     |
// |---------------------------------|---------------------------------|-----------------|----------------------------|
// | main: window procedure, message | everything listed here          | everything      | direct calls               |
// | loop, thread timers, OSD, power |                                 | listed here     |                            |
// | and display notifications       |                                 |                 |                            |
// | listeners x3: GetHostOsdThread, | m_hWnd; settings (own lock)     | nothing shared  | SendMessageW(m_hWnd):      |
// | GetHostStatusChangeThread,      |                                 |                 | WM_OSD, WM_F12,            |
// | GetUWPMessageThread             |                                 |                 | WM_UWP_MESSAGE             |
// | full-screen check, one per      | g_hNotifyWnd, g_pAutomation,    | nothing shared  | SendMessageW(g_hNotifyWnd, |
// | 2-second tick                   | g_strScopeWindowName; its check |                 | WM_FULLSCREEN)             |
// |                                 | number (its argument)           |                 |                            |
// | Sensor API callbacks            | m_hWnd; the sinks' lux and      | the same maps,  | DeliverLux: PostMessageW   |
// |                                 | sensor maps (g_csSensorMaps)    | under that lock | (m_hWnd, WM_LUX)           |
//
// Every thread may log and read settings: the log and the settings lock serialise themselves.
// How each shared item keeps to it:
// - written before any reader thread starts, then only read: m_hWnd (Init, before the
//   listeners and the sensors), the settings path (Init), g_strScopeWindowName (when
//   CFullScreen is created, before its first timer);
// - atomic, since a check thread may read while the main thread writes: g_hNotifyWnd,
//   g_pAutomation and every GetInstance pointer;
// - main thread only: m_pOSD, m_hInstance, m_bFullScreen, m_bFullScreenRuled, m_bEnterInActive,
//   the timers, g_fullScreenTimer, g_dwFullScreenCheck, g_nInActiveSeconds, g_inputTimer,
//   g_pfnInActiveHandler, g_dwLastActiveTick (written on WM_F12 and WM_OSD, read by the idle
//   timer; atomic only by declaration), CambientLightAware's thresholds, band and sink
//   pointer, and the OSD's g_pOSD, g_hCurrentImage and g_hideTimer (OSDWindow.cpp:
//   its constructor and destructor, Show, its hide timer and its window procedure).
// The main-thread-only entry points check this with GLIM_ASSERT_MAIN_THREAD (MainThread.h).
#pragma once

#include <windows.h>

#include <atomic>

#include "Singleton.h"
#include "Timer.h"

class OSDWindow;

class CKBBackLightMgr {
public:
    static CKBBackLightMgr* GetInstance();
    virtual ~CKBBackLightMgr();

    bool Init(HINSTANCE hInstance, HWND hWnd);

    void SwitchToNextStatus();
    void ShowOSD();
    void OnConfigChange(WPARAM wKind, LPARAM lArgument);

    // Automatic rules' entry points from the main window.
    void FullScreenHandler(bool bEnter);
    // WM_FULLSCREEN: a verdict of the running check starts or ends a period on a change.
    void OnFullScreenVerdict(WPARAM wVerdict, LPARAM lCheck);
    void InActiveTimerHandler(bool bInActive);
    int UpdateBrightnessByLux(float fLux);

    void OnScreenOn();
    void OnScreenOff();

    static void __cdecl GetHostOsdThread(void* pArg);
    static void __cdecl GetHostStatusChangeThread(void* pArg);
    static void __cdecl GetUWPMessageThread(void* pArg);
    // The one-shot timers' callbacks.
    static void timer_RecoveryAutoProc();
    static void timer_enterfullproc();
    static void timer_AmbientChangeStatus();

    OSDWindow* m_pOSD;
    HWND m_hWnd;  // set by Init before any other thread starts; read by all of them
    HINSTANCE m_hInstance;

    // Main-thread state.
    int m_bFullScreen;
    int m_bFullScreenRuled;  // the current period began with the rule on: idle off, switch-off timer
    int m_bEnterInActive;
    agent::CTimer m_enterFullTimer;  // switches the light off 5 s into a full-screen period
    agent::CTimer m_luxTimer;        // applies a lux band that has held for the settling time
    agent::CTimer m_recoveryTimer;   // hands Auto back to the ambient light after a preview

private:
    CKBBackLightMgr();
    template <typename T>
    friend T* glim::GetOrCreateInstance(std::atomic<T*>&, glim::CStaticCriticalSection&);

    void ApplyStatus();
    void PreviewBrightness();
    void EndUncheckedFullScreenPeriod();
};
