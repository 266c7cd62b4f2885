// Checks that something did NOT happen. Such a check proves something only once the system
// got past the moment it would have happened, so each waits for a sentinel first: a later
// event that must follow that moment (a later press handled, a log line written after it,
// the window's thread done with what it was handling).
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>

namespace glimtest {

// Waits for pfnSentinel, watching pfnHappened at every poll and once more after the
// sentinel. Fails when the unwanted thing was seen, and when the sentinel never came (then
// the absence proves nothing).
::testing::AssertionResult NothingUntil(const std::function<bool()>& pfnHappened,
                                        const std::function<bool()>& pfnSentinel, const char* pszSentinel,
                                        DWORD dwTimeoutMs);

// True once the thread of hWnd has handled everything it was sent before this call: a
// message sent now is handled only after the handler running there returns.
bool WindowThreadPassed(HWND hWnd, DWORD dwTimeoutMs = 10000);

}  // namespace glimtest
