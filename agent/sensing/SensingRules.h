// Pure rules of the agent's sensing and automatic policies, free of I/O so that tests reach
// every boundary: idle-time parsing and verdict, the window-title scope match, the
// covering test, the ambient bands and the lux hand-over.
#pragma once

#include "RuleTypes.h"

namespace glim {

// InActiveTime: a whole number followed by U+5206 (minutes) or U+79D2 (seconds). The
// minutes step drops the last character and converts the rest times 60; then, if the
// (possibly shortened) text still contains the seconds character, that step drops the
// last character and converts the rest. Anything else gives 0 (tracking off), and so do
// a unit without a convertible number, a number outside 32 signed bits and a minute count
// whose seconds leave that range.
int ParseInActiveTime(const wchar_t* pszValue);

// The idle threshold in milliseconds; settings beyond 4,294,967 seconds are clamped to the
// largest representable threshold instead of wrapping to a short one.
DWORD InActiveThresholdMs(int nSeconds);

enum class IdleVerdict { None, Active, Inactive };
constexpr DWORD kActiveWindowMs = 1500;
// dwLastActive is the later of the agent's own activity tick and the last input tick.
// Inactive when now - last (unsigned, so the counter's wrap is harmless) reaches the
// threshold, Active when it is at most 1500 ms, otherwise nothing.
IdleVerdict JudgeIdle(DWORD dwNow, DWORD dwLastActive, DWORD dwThresholdMs);
// The later of two ticks: the one nearer to dwNow (now - a <= now - b, unsigned). Comparing
// the ticks themselves would, once the counter wraps, keep a tick from before the wrap
// over every later one.
DWORD LaterTick(DWORD dwNow, DWORD dwA, DWORD dwB);

// The tail of a window title that the scope list is searched for: from the last hyphen
// (included) when it is not the first character, else the whole title.
const wchar_t* ScopeTitleTail(const wchar_t* pszTitle);
// 1 when the non-empty scope list contains the title's tail (case-sensitive), else 0.
int IsTitleInScope(const wchar_t* pszScopeList, const wchar_t* pszTitle);

// 1 when rc covers rcMonitor on all four sides (signed comparisons), else 0.
int RectCoversMonitor(const RECT& rc, const RECT& rcMonitor);

// The ambient bands: 1 darkness, 2 dim indoors, 3..6 bright; 0 means no reading yet.
constexpr int kBandNone = 0;
constexpr int kBandDarkness = 1;
constexpr int kBandDimIndoors = 2;
int AmbientBand(float fLux, int nDarknessLux, int nDimIndoorsLux);
// The level a band applies in Auto; nKBBrightness is the user's On level.
int AmbientBandLevel(int nBand, int nKBBrightness);

// Each start of the full-screen check takes the next number, never 0 (0 names no check).
DWORD NextFullScreenCheck(DWORD dwCurrent);
// Whether a WM_FULLSCREEN verdict may act: one sent by a check thread carries its check's
// number and counts only while that check still runs (a verdict of a stopped or restarted
// check would start a period that no later verdict ends); one that names no check (0, as the
// message is described for other senders) counts as before.
bool IsVerdictOfRunningCheck(LPARAM lCheck, bool bRunning, DWORD dwRunningCheck);

// The WM_LUX parameter: the lux truncated toward zero to an unsigned 64-bit value; a
// negative or NaN value (never sent: the mean is of valid readings only) gives 0.
WPARAM LuxToWParam(float fLux);

}  // namespace glim
