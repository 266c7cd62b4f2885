// Starts the agent inside the console user's session with a copy of that user's own token
// (unelevated for an administrator under user account control), hidden, with a command word
// as its whole command line.
#pragma once

#include <windows.h>

#include <atomic>

#include "ScopedHandle.h"
#include "ShellProcess.h"
#include "Singleton.h"

class CUsermodeProcess {
public:
    static CUsermodeProcess* GetInstance();
    virtual ~CUsermodeProcess();

    // *pdwExplorerPid: 0 searches for explorer.exe in the console session; on return it
    // holds the id used. pszCommandLine is the agent's whole (writable) command line.
    // phProcess, when given, receives the agent's process handle; otherwise it is closed.
    // True only when the agent process was created.
    bool CreateUsermodeProcess2(DWORD* pdwExplorerPid, wchar_t* pszCommandLine, HANDLE* phProcess);

private:
    CUsermodeProcess();
    template <typename T>
    friend T* glim::GetOrCreateInstance(std::atomic<T*>&, glim::CStaticCriticalSection&);
};

namespace glim {
// True when the token is of the given session and its user is not the system itself.
bool IsSessionUserToken(HANDLE hToken, DWORD dwSession);
// The token the agent runs with: a primary duplicate of the session user's own token
// (hSessionToken, from WTSQueryUserToken; may be null), or failing that of explorer's, each
// taken only when IsSessionUserToken holds for the console session. Never the linked token,
// and never the source itself, which the system may share. Empty when neither qualifies (the
// error stays for GetLastError).
CScopedHandle ChooseAgentToken(HANDLE hSessionToken, HANDLE hExplorerToken, DWORD dwConsoleSession);

// The interactive user's desktop, where the agent must land to find the main instance.
constexpr const wchar_t* kUserDesktop = L"winsta0\\default";
// How far a UI-access program's integrity level stands above its user's (medium 0x2000
// becomes 0x2010).
constexpr DWORD kUIAccessIntegrityStep = 0x10;
// Sets the token's integrity level to its current level plus dwStep. Returns the Windows
// error of the failing call, or 0.
DWORD RaiseTokenIntegrityLevel(HANDLE hToken, DWORD dwStep);
// The agent's manifest asks for UI access, which Windows grants only above the user's own
// level: a UI-access program at that level could be driven by any other program of the user.
// So the level is raised by kUIAccessIntegrityStep first and, only when that succeeds, UI
// access is set (a failure to set it is logged; Windows then refuses the start itself).
// Returns the raise's error, after which the launcher starts nothing, or 0.
DWORD PrepareUIAccess(HANDLE hToken);
}  // namespace glim
