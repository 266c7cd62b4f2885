// The one bounded wait of the tests: polls a condition until it holds or the time is up.
#pragma once

#include <windows.h>

#include <functional>

namespace glimtest {

// True as soon as pred() returns true; false when dwTimeoutMs pass first. Before each poll
// it dispatches this thread's messages, so windows and hooks of the test keep working.
bool WaitUntil(const std::function<bool()>& pred, DWORD dwTimeoutMs, DWORD dwPollMs = 20);

}  // namespace glimtest
