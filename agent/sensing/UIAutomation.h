// The UI Automation client of the full-screen check: created once on the main thread and
// kept for the life of the process; used by the check threads to find a web page's video
// player element.
#pragma once

#include <windows.h>

#include <atomic>

#include "ScopedHandle.h"
#include "Singleton.h"
#include "UIAutomationDecl.h"

// Set once on the main thread, read by the check threads (see KBBackLightMgr.h); never released.
extern std::atomic<IUIAutomation*> g_pAutomation;

class CUIAutomation {
public:
    static CUIAutomation* GetInstance();
    virtual ~CUIAutomation();

    HRESULT InitializeUIAutomation();
    // Takes over the caller's reference to pElement. 1 when the element's "movie_player"
    // group covers the primary monitor, else 0.
    int IsWindowContainFullMovie(IUIAutomationElement* pElement);

private:
    CUIAutomation();
    template <typename T>
    friend T* glim::GetOrCreateInstance(std::atomic<T*>&, glim::CStaticCriticalSection&);
    glim::CComRef<IUIAutomationElement> FindMoviePlayer(IUIAutomationElement* pElement);
};
