// Starts the agent inside the interactive user's session with the token of the user's
// explorer.exe, hidden, with a command word as its whole command line.
#pragma once

#include <windows.h>

#include <atomic>

#include "ScopedHandle.h"
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
    template <typename T> friend T* glim::GetOrCreateInstance(std::atomic<T*>&, glim::CStaticCriticalSection&);
};

namespace glim {
// The explorer.exe of the console session; failing that, the last explorer.exe met in any
// session; 0 when none runs.
DWORD FindExplorerProcessId(DWORD dwConsoleSession);
// The token the agent runs with: the linked (full) token when explorer runs with a filtered
// one, otherwise a primary duplicate of explorer's token. Empty when neither is obtained
// (the error of the last call stays for GetLastError).
CScopedHandle ChooseAgentToken(HANDLE hExplorerToken);

// The interactive user's desktop, where the agent must land to find the main instance.
constexpr const wchar_t* kUserDesktop = L"winsta0\\default";
// How far a UI-access program's integrity level stands above its user's (medium 0x2000
// becomes 0x2010).
constexpr DWORD kUIAccessIntegrityStep = 0x10;
// Sets the token's integrity level to its current level plus dwStep. Returns the Windows
// error of the failing call, or 0.
DWORD RaiseTokenIntegrityLevel(HANDLE hToken, DWORD dwStep);
}  // namespace glim
