// The user's shell process of a session, found by name in the process list.
#pragma once

#include <windows.h>

namespace glim {

// The explorer.exe of the given session; 0 when none runs there (an explorer of another
// session is never taken: a program started through it would land in someone else's session).
DWORD FindExplorerProcessId(DWORD dwSession);

}  // namespace glim
