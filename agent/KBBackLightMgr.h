// The agent's central manager: puts the backlight into the stored status at start-up,
// listens for relayed hotkey presses and settings notices, and applies them on the main
// thread through the hidden main window.
#pragma once

#include <windows.h>

#include <atomic>

#include "Singleton.h"

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
    void InActiveTimerHandler(bool bInActive);
    int UpdateBrightnessByLux(float fLux);

    void OnScreenOn();
    void OnScreenOff();

    static void __cdecl GetHostOsdThread(void* pArg);
    static void __cdecl GetHostStatusChangeThread(void* pArg);
    static void __cdecl GetUWPMessageThread(void* pArg);
    static void CALLBACK timer_RecoveryAutoProc(HWND hWnd, UINT uMsg, UINT_PTR idEvent, DWORD dwTime);
    static void CALLBACK timer_enterfullproc(HWND hWnd, UINT uMsg, UINT_PTR idEvent, DWORD dwTime);
    static void CALLBACK timer_AmbientChangeStatus(HWND hWnd, UINT uMsg, UINT_PTR idEvent, DWORD dwTime);

    OSDWindow* m_pOSD;
    HWND m_hWnd;
    HINSTANCE m_hInstance;

    // Main-thread state.
    int m_bFullScreen;
    int m_bEnterInActive;
    UINT_PTR m_nEnterFullTimer;
    UINT_PTR m_nLuxTimer;
    UINT_PTR m_nRecoveryTimer;

private:
    CKBBackLightMgr();
    template <typename T> friend T* glim::GetOrCreateInstance(std::atomic<T*>&, glim::CStaticCriticalSection&);

    void ApplyStatus();
    void PreviewBrightness();
};
