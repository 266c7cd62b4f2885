// The hotkey read loop: the thread that waits for the driver's hotkey event and acts on
// each accepted press, and the session-lock test it depends on.
#pragma once

#include <windows.h>

#include "ScopedHandle.h"
#include "Win32Compat.h"

namespace glim {

// The lock decision for one WTSSessionInfoEx answer: locked only when the query
// succeeded, returned a level-1 record large enough to hold its flags, and the flags say
// WTS_SESSIONSTATE_LOCK. Everything else (a failed or empty answer, another level,
// unlocked or unknown) counts as not locked.
bool IsSessionInfoLocked(BOOL bQueryOk, const WTSINFOEXW* pInfo, DWORD cbReturned);

// Asks about the active console session.
bool IsConsoleSessionLocked();

// One accepted press: toggles the backlight itself when the session is locked and starts
// the agent with the matching command word.
void HandleHotkeyPress();

// Security of the press event: SYSTEM and Administrators may signal and wait on it, nobody
// else may open it (the filter driver signals it from the kernel, where no check applies).
constexpr const wchar_t* kHotkeyEventSddl = L"D:P(A;;0x1f0003;;;SY)(A;;0x1f0003;;;BA)";

// Why the service does not start when "event_hwap" existed with another maker's security.
constexpr DWORD kHotkeyEventForeignError = ERROR_OBJECT_ALREADY_EXISTS;

// Creates "event_hwap" (auto-reset, not signalled) with that security; the last error is as
// CreateEventW left it. An event that existed already has its owner logged, and is used only
// when its security is the service's own kind (SYSTEM and Administrators only); otherwise an
// 'E' line, NULL and kHotkeyEventForeignError.
HANDLE CreateHotkeyEvent(const wchar_t* pszLabel);

// Creates the hotkey event, signals the event passed as its argument (if any) and serves
// presses until a wait fails. Returns the error that ended it.
DWORD WINAPI ReadThread(LPVOID pvStarted);

// How long StartReadThread waits for the read thread to listen.
constexpr DWORD kReadThreadStartLimitMs = 5000;

// How long StopAgentStarts waits for an agent start under way to finish.
constexpr DWORD kAgentStartStopLimitMs = 3000;

// Waits until the read thread signals hStarted (ERROR_SUCCESS) or ends (its exit code, or
// ERROR_SERVICE_NO_THREAD when that is 0); ERROR_TIMEOUT when neither happens in time.
// Every failure is logged.
DWORD WaitForReadThreadStart(HANDLE hStarted, HANDLE hThread, DWORD dwTimeoutMs);

// Lets agents be started, creates the lock of their starts and starts the read thread.
// ERROR_SUCCESS once it listens, with the thread in *phThread; otherwise the error, logged
// under the caller's label.
DWORD StartReadThread(const wchar_t* pszLabel, CScopedHandle* phThread);

// Lets an agent start under way finish and keeps any later one from beginning; ERROR_TIMEOUT
// (logged) when one is still under way after kAgentStartStopLimitMs.
DWORD StopAgentStarts(const wchar_t* pszLabel);

}  // namespace glim
