// The full-screen video check's entry points as the manager calls them. The periodic check
// itself (UI Automation, the scope list, WM_FULLSCREEN reports) is not built yet: start and
// stop only record whether the check would run.
#pragma once

#include <windows.h>

#include <atomic>

#include "Singleton.h"

class CFullScreen {
public:
    static CFullScreen* GetInstance();
    virtual ~CFullScreen();

    // (Re)starts the check when FullScreen5sClose is set, stops it otherwise.
    void StartFullScreenMonitor(HWND hWnd);
    void StopFullScreenMonitor();

    bool IsMonitoring() const { return m_bMonitoring; }

private:
    CFullScreen();
    template <typename T> friend T* glim::GetOrCreateInstance(std::atomic<T*>&, glim::CStaticCriticalSection&);

    HWND m_hWnd;
    bool m_bMonitoring;
};
