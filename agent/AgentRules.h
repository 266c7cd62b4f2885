// Pure rules of the agent's core, kept free of I/O so tests reach every case.
#pragma once

#include "RuleTypes.h"

namespace agent {

// What an agent process becomes, from its whole command line. Command words are matched
// case-sensitively anywhere in the text; the OSD word is tested first.
enum class AgentRole { RelayOsd, RelayStatusChange, Main };
AgentRole DecideAgentRole(const wchar_t* pszCommandLine);

// What a relay hands on: the event that wakes the main instance's listener and the wParam
// of the notice to the settings application.
struct RelayTarget {
    const wchar_t* pszEvent;
    WPARAM wNotify;
};
// False for the main role, which relays nothing.
bool GetRelayTarget(AgentRole role, RelayTarget* pTarget);

// The level that puts the backlight into a status: the user's level in On, 0 in Off and in
// any unknown status. False in Auto, where the ambient light decides and nothing is sent.
bool LevelForStatus(DWORD dwStatus, DWORD dwBrightness, INT32* pnLevel);

// The reaction to a brightness notice (kind 1).
enum class BrightnessNoticeAction { None, Apply, Preview };
BrightnessNoticeAction ActionForBrightnessNotice(DWORD dwStatus, LPARAM lArgument);

// Settings notice kinds; anything else, -1 included, is ignored.
enum class ConfigNotice { Status, Brightness, IdleTime, FullScreenRule, Ignored };
ConfigNotice ClassifyConfigNotice(WPARAM wKind);

// A full-screen verdict against the current period flag: +1 a period starts, -1 it ends,
// 0 no change (the handler runs only on a change). Only the low 32 bits of wParam count.
int FullScreenTransition(bool bFullScreen, WPARAM wVerdict);

}  // namespace agent
