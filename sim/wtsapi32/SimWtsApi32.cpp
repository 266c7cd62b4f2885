// Stand-in for wtsapi32.dll, loaded only into the programs that a per-program DLL override
// names. Wine never reports a session as locked; this DLL answers WTSSessionInfoEx queries
// from the registry values of SimSessionProtocol.h. Other classes are not supported.
// WTSQueryUserToken answers as Wine's own does (every process of the prefix runs as the one
// user, so the caller's token is that user's), or fails as a test asks.
#include <windows.h>

#include <cstddef>
#include <cwchar>

#include "SimSessionProtocol.h"
#include "Win32Compat.h"

namespace {

DWORD ReadDword(HKEY hKey, const wchar_t* pszName, DWORD dwDefault)
{
    DWORD dwValue = 0;
    DWORD cb = sizeof(dwValue);
    DWORD dwType = 0;
    if (RegQueryValueExW(hKey, pszName, nullptr, &dwType, reinterpret_cast<BYTE*>(&dwValue), &cb) != ERROR_SUCCESS ||
        dwType != REG_DWORD)
        return dwDefault;
    return dwValue;
}

void CountQuery(HKEY hKey)
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    RegSetValueExW(hKey, simsession::kValueLastQueryCounter, 0, REG_QWORD, reinterpret_cast<const BYTE*>(&now.QuadPart),
                   sizeof(now.QuadPart));
    const DWORD dwCount = ReadDword(hKey, simsession::kValueQueries, 0) + 1;
    RegSetValueExW(hKey, simsession::kValueQueries, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwCount),
                   sizeof(dwCount));
}

}  // namespace

extern "C" BOOL WINAPI SimWTSQuerySessionInformationW(HANDLE /*hServer*/, DWORD dwSessionId, WTS_INFO_CLASS infoClass,
                                                      LPWSTR* ppBuffer, DWORD* pcbReturned)
{
    if (!ppBuffer || !pcbReturned) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *ppBuffer = nullptr;
    *pcbReturned = 0;
    if (infoClass != WTSSessionInfoEx) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    DWORD dwFlags = simsession::kFlagsUnlocked;
    DWORD dwLevel = 1;
    DWORD dwFail = 0;
    HKEY hKey = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, simsession::kRegKey, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                        nullptr, &hKey, nullptr) == ERROR_SUCCESS) {
        dwFlags = ReadDword(hKey, simsession::kValueSessionFlags, dwFlags);
        dwLevel = ReadDword(hKey, simsession::kValueLevel, dwLevel);
        dwFail = ReadDword(hKey, simsession::kValueFailWith, 0);
        CountQuery(hKey);
        RegCloseKey(hKey);
    }
    if (dwFail != 0) {
        SetLastError(dwFail);
        return FALSE;
    }
    WTSINFOEXW* pInfo = static_cast<WTSINFOEXW*>(LocalAlloc(LPTR, sizeof(WTSINFOEXW)));
    if (!pInfo) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    pInfo->Level = dwLevel;
    WTSINFOEX_LEVEL1_W& level1 = pInfo->Data.WTSInfoExLevel1;
    level1.SessionId = dwSessionId;
    level1.SessionState = WTSActive;
    level1.SessionFlags = static_cast<LONG>(dwFlags);
    wcsncpy(level1.WinStationName, L"Console", WINSTATIONNAME_LENGTH);
    *ppBuffer = reinterpret_cast<LPWSTR>(pInfo);
    *pcbReturned = sizeof(WTSINFOEXW);
    return TRUE;
}

extern "C" void WINAPI SimWTSFreeMemory(PVOID pMemory)
{
    if (pMemory)
        LocalFree(pMemory);
}

// A handle to the caller's own token, not a copy: a caller that changed it would change the
// token its own process runs with, as changing a shared token would on Windows.
extern "C" BOOL WINAPI SimWTSQueryUserToken(ULONG /*ulSessionId*/, PHANDLE phToken)
{
    if (!phToken) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *phToken = nullptr;
    DWORD dwFail = 0;
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, simsession::kRegKey, 0, KEY_QUERY_VALUE, &hKey) == ERROR_SUCCESS) {
        dwFail = ReadDword(hKey, simsession::kValueTokenFailWith, 0);
        RegCloseKey(hKey);
    }
    if (dwFail != 0) {
        SetLastError(dwFail);
        return FALSE;
    }
    return OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, phToken);
}
