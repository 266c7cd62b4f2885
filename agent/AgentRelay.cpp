#include "AgentRelay.h"

#include "GlimNames.h"
#include "KBBackLightMgr.h"
#include "ScopedHandle.h"

using namespace glim;

namespace agent {

bool RunRelay(AgentRole role)
{
    RelayTarget target;
    if (!GetRelayTarget(role, &target))
        return false;
    // Not idle: a relay creates the manager object as the main instance does (it takes no
    // resources), so both roles share one start.
    CKBBackLightMgr::GetInstance();

    HWND hSettingsApp = FindWindowW(nullptr, kSettingsAppWindowTitle);
    if (hSettingsApp) {
        DWORD_PTR dwResult = 0;
        SendMessageTimeoutW(hSettingsApp, WM_UWP_NOTIFY, target.wNotify, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                            kNotifyTimeoutMs, &dwResult);
    }

    // The main instance's listener normally created the event; a relay that comes first
    // creates it itself with the same parameters.
    const CScopedHandle hEvent(CreateEventW(nullptr, FALSE, FALSE, target.pszEvent));
    if (!hEvent)
        return false;
    SetEvent(hEvent.Get());
    return true;
}

}  // namespace agent
