// Helpers for the whole-system tests of Glimward: programs installed where the installer
// puts them, the per-program wtsapi32 override, the simulated session lock, the agent probe,
// the settings file and the service log. Every owner undoes what it did when destroyed.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "Wait.h"

namespace glimtest {

// "C:\Program Files (x86)\Vessik\Glimkit" and the service program inside it.
std::wstring InstallDir();
std::wstring InstalledServicePath();
// A file of the build's bin folder (beside the running test program).
std::wstring BuildBinPath(const std::wstring& relative);

// Runs a program with a command line, waits for it and returns ERROR_SUCCESS with its
// exit code, or the error that kept it from running or ERROR_TIMEOUT.
DWORD RunProgram(const std::wstring& program, const std::wstring& arguments, DWORD* pdwExitCode,
                 DWORD dwTimeoutMs = 60000);

// Copies a file to a destination (creating its folders) and deletes the copy when destroyed.
class CInstalledFile {
public:
    CInstalledFile() = default;
    virtual ~CInstalledFile();
    CInstalledFile(const CInstalledFile&) = delete;
    CInstalledFile& operator=(const CInstalledFile&) = delete;
    DWORD Install(const std::wstring& source, const std::wstring& destination);

private:
    std::wstring m_destination;
};

// Makes Wine load wtsapi32.dll from beside Glimward.exe (the stand-in) for that program.
class CWtsOverride {
public:
    CWtsOverride() = default;
    virtual ~CWtsOverride();
    CWtsOverride(const CWtsOverride&) = delete;
    CWtsOverride& operator=(const CWtsOverride&) = delete;
    DWORD Install();

private:
    CInstalledFile m_dll;
    bool m_bKey = false;
};

// The console session's lock state as the stand-in reports it; the key goes away at the end.
class CSimSession {
public:
    CSimSession();
    virtual ~CSimSession();
    CSimSession(const CSimSession&) = delete;
    CSimSession& operator=(const CSimSession&) = delete;
    DWORD SetFlags(DWORD dwFlags);
    // Non-zero: the stand-in's WTSQueryUserToken fails with this error.
    DWORD SetTokenFailure(DWORD dwErr);
    DWORD Queries() const;
};

// The probe installed at the agent's path; Starts() lists the command lines it was started
// with, oldest first, and Tokens() what each start's token held (agentprobe::DescribeToken).
class CAgentProbe {
public:
    CAgentProbe() = default;
    virtual ~CAgentProbe();
    CAgentProbe(const CAgentProbe&) = delete;
    CAgentProbe& operator=(const CAgentProbe&) = delete;
    DWORD Install();
    std::vector<std::wstring> Starts() const;
    std::vector<std::wstring> Tokens() const;
    void Clear() const;
    static std::wstring LogPath();
    static std::wstring TokenLogPath();

private:
    CInstalledFile m_program;
};

// The shared settings file, emptied at the start and removed at the end.
class CSettings {
public:
    CSettings();
    virtual ~CSettings();
    CSettings(const CSettings&) = delete;
    CSettings& operator=(const CSettings&) = delete;
    void Set(const wchar_t* pszKey, int nValue) const;
    void Remove(const wchar_t* pszKey) const;
    // -1 when the key is missing.
    int Get(const wchar_t* pszKey) const;
};

// The service log file: Create() switches logging on; the file is removed at the end.
class CServiceLogFile {
public:
    CServiceLogFile();
    virtual ~CServiceLogFile();
    CServiceLogFile(const CServiceLogFile&) = delete;
    CServiceLogFile& operator=(const CServiceLogFile&) = delete;
    bool Create() const;
    void Delete() const;
    bool Exists() const;
    std::wstring Text() const;
    // Lines whose message (after "Pid:..  time  ") is exactly the given text.
    int CountMessage(const std::wstring& message) const;
    // Lines whose message starts with the given text.
    int CountMessagePrefix(const std::wstring& prefix) const;
    bool WaitForMessage(const std::wstring& message, DWORD dwTimeoutMs) const;
};

// Removes a service (stopping it first) at construction and again at destruction, so a
// test starts without it and leaves none behind on any path.
class CServiceGuard {
public:
    explicit CServiceGuard(const wchar_t* pszName);
    virtual ~CServiceGuard();
    CServiceGuard(const CServiceGuard&) = delete;
    CServiceGuard& operator=(const CServiceGuard&) = delete;

private:
    std::wstring m_name;
};

// Installs the installed Glimward.exe with its own verb ("x -I"), starts it through the
// manager and waits until its read thread has created the hotkey
// event. Returns ERROR_SUCCESS, the failing step's error, ERROR_INVALID_FUNCTION when the
// verb process exits with a code other than 0, or ERROR_TIMEOUT.
DWORD InstallAndStartService(DWORD dwTimeoutMs = 15000);

// Makes sure Wine's desktop process (explorer.exe) runs: it starts once a process of the
// prefix uses the display. True when an explorer.exe process is seen.
bool EnsureExplorer();
// agentprobe::DescribeToken of the console session's explorer.exe; empty when none is read.
std::wstring DescribeExplorerToken();

// The process id of a running service, 0 when it does not run.
DWORD ServiceProcessId(const wchar_t* pszName);

}  // namespace glimtest
