#include "SimPower.h"

#include "ScopedHandle.h"

namespace glimtest {

namespace {
// Creates the key when missing and sets one value under HKEY_CURRENT_USER.
LONG SetValue(const wchar_t* pszKey, const wchar_t* pszName, DWORD dwType, const void* pData, DWORD cbData)
{
    glim::CScopedKey hKey;
    const LONG lError =
        RegCreateKeyExW(HKEY_CURRENT_USER, pszKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, hKey.Put(), nullptr);
    if (lError != ERROR_SUCCESS)
        return lError;
    return RegSetValueExW(hKey.Get(), pszName, 0, dwType, static_cast<const BYTE*>(pData), cbData);
}
}  // namespace

CSimExecutionState::CSimExecutionState(DWORD dwState) : m_lError(ERROR_SUCCESS)
{
    Set(dwState);
}

void CSimExecutionState::Set(DWORD dwState)
{
    m_lError = SetValue(simpower::kKey, simpower::kExecutionStateValue, REG_DWORD, &dwState, sizeof(dwState));
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
    m_lError = SetValue(m_strKey.c_str(), pszDll, REG_SZ, szNative, sizeof(szNative));
}

CDllOverride::~CDllOverride()
{
    RegDeleteKeyValueW(HKEY_CURRENT_USER, m_strKey.c_str(), m_strDll.c_str());
}

}  // namespace glimtest
