// Test control of what Wine cannot simulate about power: the execution state reported by
// the stand-in powrprof.dll, and Wine's per-program DLL override that makes one program
// load a DLL from its own folder instead of Wine's built-in one.
#pragma once

#include <windows.h>

#include <string>

#include "powrprof/SimPowerProtocol.h"

namespace glimtest {

// Sets the execution state the stand-in reports for the object's lifetime (deleted
// afterwards, so the system's answer comes back).
class CSimExecutionState {
public:
    explicit CSimExecutionState(DWORD dwState);
    virtual ~CSimExecutionState();
    CSimExecutionState(const CSimExecutionState&) = delete;
    CSimExecutionState& operator=(const CSimExecutionState&) = delete;
    void Set(DWORD dwState);
    bool Ok() const { return m_lError == ERROR_SUCCESS; }

private:
    LONG m_lError;
};

// HKCU\Software\Wine\AppDefaults\<program>\DllOverrides: <module>="native" for the
// object's lifetime, the module named without ".dll" (Wine ignores a value with it).
// Takes effect for processes started afterwards.
class CDllOverride {
public:
    CDllOverride(const wchar_t* pszProgram, const wchar_t* pszModule);
    virtual ~CDllOverride();
    CDllOverride(const CDllOverride&) = delete;
    CDllOverride& operator=(const CDllOverride&) = delete;
    bool Ok() const { return m_lError == ERROR_SUCCESS; }

private:
    std::wstring m_strKey;
    std::wstring m_strDll;
    LONG m_lError;
};

}  // namespace glimtest
