#include "AgentRules.h"

#include <cwchar>

#include "GlimNames.h"

using namespace glim;

namespace agent {

AgentRole DecideAgentRole(const wchar_t* pszCommandLine)
{
    if (!pszCommandLine)
        return AgentRole::Main;
    if (std::wcsstr(pszCommandLine, kCmdOsd))
        return AgentRole::RelayOsd;
    if (std::wcsstr(pszCommandLine, kCmdStatusChange))
        return AgentRole::RelayStatusChange;
    return AgentRole::Main;
}

bool GetRelayTarget(AgentRole role, RelayTarget* pTarget)
{
    switch (role) {
    case AgentRole::RelayOsd: *pTarget = {kEventHostOsd, kNotifyServiceChangedStatus}; return true;
    case AgentRole::RelayStatusChange: *pTarget = {kEventHostStatusChange, kNotifyAgentChangesStatus}; return true;
    default: return false;
    }
}

bool LevelForStatus(DWORD dwStatus, DWORD dwBrightness, INT32* pnLevel)
{
    if (dwStatus == kStatusAuto)
        return false;
    *pnLevel = dwStatus == kStatusOn ? static_cast<INT32>(dwBrightness) : 0;
    return true;
}

BrightnessNoticeAction ActionForBrightnessNotice(DWORD dwStatus, LPARAM lArgument)
{
    if (dwStatus == kStatusOn)
        return BrightnessNoticeAction::Apply;
    if (dwStatus == kStatusAuto && lArgument == 0)
        return BrightnessNoticeAction::Preview;
    return BrightnessNoticeAction::None;
}

ConfigNotice ClassifyConfigNotice(WPARAM wKind)
{
    switch (wKind) {
    case 0: return ConfigNotice::Status;
    case 1: return ConfigNotice::Brightness;
    case 2: return ConfigNotice::IdleTime;
    case 3: return ConfigNotice::FullScreenRule;
    default: return ConfigNotice::Ignored;
    }
}

int FullScreenTransition(bool bFullScreen, WPARAM wVerdict)
{
    const bool bVerdict = static_cast<UINT32>(wVerdict) != 0;
    if (bVerdict && !bFullScreen)
        return 1;
    if (!bVerdict && bFullScreen)
        return -1;
    return 0;
}

}  // namespace agent
