// The agent's start for the user of this desktop the way a logon starts it: the user's shell
// (explorer.exe) runs the program through its own ShellExecute, unelevated and as that user.
// Only a start through the shell passes the system's UI-access check that the agent's manifest
// asks for; the CreateProcess family refuses such a program with ERROR_ELEVATION_REQUIRED.
// The shell is reached through its desktop automation object: ShellWindows -> the desktop's
// browser -> its active view -> the view's Shell.Application -> IShellDispatch2::ShellExecute.
#pragma once

#include <windows.h>
#include <exdisp.h>

#include <functional>
#include <string>

#include "InstallLayout.h"
#include "Verb.h"

namespace glimsetup {

struct SAgentStartPlace {
    std::wstring strProgramDir;  // the agent is <folder>\Glimagent.exe
    std::wstring strAgentTitle = glim::kAgentWindowTitle;
    DWORD dwShellAnswerMs = 5000;  // WM_NULL to the shell window
    DWORD dwAgentStartMs = 15000;  // until the agent's window shows
};

// What the start needs from the system; tests give their own.
struct SShellRoute {
    std::function<HWND()> getShellWindow;
    // The user's shell process of this session, 0 when none runs.
    std::function<DWORD()> findShellProcess;
    std::function<HRESULT(IShellWindows** ppWindows)> createShellWindows;
};

// GetShellWindow, the shell window's owner else an explorer.exe of this session, and the
// running shell's ShellWindows object.
SShellRoute SystemShellRoute();

// Hands the agent to the shell's ShellExecute. On failure *pstrStep names the step that failed
// and the result is its HRESULT (S_FALSE, when a step gave nothing, counts as a failure).
HRESULT ShellExecuteThroughShell(IShellWindows* pWindows, const std::wstring& strProgram, const std::wstring& strFolder,
                                 std::wstring* pstrStep);

// Starts the agent through the user's shell and waits, bounded, for its window. No shell in
// this session: said, and done. A shell window that does not answer, or a failed step: failed.
SVerbResult StartAgent(const SAgentStartPlace& place, const SShellRoute& route);

}  // namespace glimsetup
