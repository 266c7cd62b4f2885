#include "SimPower.h"

namespace simtest {

CSimExecutionState::CSimExecutionState(DWORD dwState)
    : m_lError(ERROR_SUCCESS)
{
    Set(dwState);
}

void CSimExecutionState::Set(DWORD dwState)
{
    m_lError = RegSetKeyValueW(HKEY_CURRENT_USER, simpower::kKey, simpower::kExecutionStateValue, REG_DWORD,
                               &dwState, sizeof(dwState));
}

CSimExecutionState::~CSimExecutionState()
{
    RegDeleteKeyValueW(HKEY_CURRENT_USER, simpower::kKey, simpower::kExecutionStateValue);
}

CDllOverride::CDllOverride(const wchar_t* pszProgram, const wchar_t* pszDll)
    : m_strKey(std::wstring(L"Software\\Wine\\AppDefaults\\") + pszProgram + L"\\DllOverrides")
    , m_strDll(pszDll)
{
    const wchar_t szNative[] = L"native";
    m_lError = RegSetKeyValueW(HKEY_CURRENT_USER, m_strKey.c_str(), pszDll, REG_SZ, szNative, sizeof(szNative));
}

CDllOverride::~CDllOverride()
{
    RegDeleteKeyValueW(HKEY_CURRENT_USER, m_strKey.c_str(), m_strDll.c_str());
}

}  // namespace simtest
