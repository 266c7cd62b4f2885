// A child process that a test starts and that ends with the test: the destructor kills it
// (TerminateProcess, then waits for it) when it still runs, so a failing test leaves no
// stray process behind.
#pragma once

#include <windows.h>

#include <string>

#include "ScopedHandle.h"

namespace glimtest {

class CChildProcess {
public:
    CChildProcess() = default;
    virtual ~CChildProcess();
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    // Starts strExe with the given argument string (the quoted program path is put in
    // front). Returns 0 or the Win32 error of CreateProcessW. The child inherits this
    // process's environment and current directory. A running child is killed first.
    DWORD Start(const std::wstring& strExe, const std::wstring& strArgs);
    // Starts strExe with the whole command line given: no program name is put in front.
    DWORD StartCommandLine(const std::wstring& strExe, const std::wstring& strCommandLine);

    // True and the exit code (when pdwExitCode is given) once the child has ended within
    // dwTimeoutMs; false while it still runs or when none was started.
    bool WaitExit(DWORD dwTimeoutMs, DWORD* pdwExitCode = nullptr) const;
    bool IsRunning() const { return m_hProcess && WaitForSingleObject(m_hProcess.Get(), 0) == WAIT_TIMEOUT; }

    // Ends the child (when it runs) and waits for it; idempotent.
    void Terminate();

    HANDLE Handle() const { return m_hProcess.Get(); }
    DWORD Id() const { return m_dwProcessId; }

    // The folder of the running executable, with a trailing backslash: the tests and the
    // stand-ins are built into the same folder.
    static std::wstring ModuleDir();
    // One argument quoted so that CommandLineToArgvW (and the C runtime) give it back
    // unchanged.
    static std::wstring QuoteArg(const std::wstring& strArg);

private:
    glim::CScopedHandle m_hProcess;
    DWORD m_dwProcessId = 0;
};

}  // namespace glimtest
