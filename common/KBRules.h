// Pure rules of the backlight status model, kept free of I/O so tests reach every case.
#pragma once

#include "RuleTypes.h"

namespace glim {

// The hotkey cycle Off -> On -> Auto -> Off. The invalid status (a stored -1) and any
// other unknown value go to Off.
DWORD NextKBStatus(DWORD dwStatus);

// The service's two-state toggle used while the session is locked: any non-zero status
// goes to Off, Off goes to On.
DWORD NextLockedKBStatus(DWORD dwStatus);

// The hotkey interval rule. Accepts a press when more than 500 ms (unsigned, so the tick
// counter's wrap-around is harmless) have passed since *pdwLast; an accepted press moves
// *pdwLast to dwNow.
constexpr DWORD kF12MinIntervalMs = 500;
bool AcceptF12Press(DWORD dwNow, DWORD* pdwLast);

}  // namespace glim
