#include "SettingsFile.h"

#include <shlwapi.h>

#include <cwchar>
#include <new>
#include <stdio.h>

#include "GlimLog.h"
#include "GlimNames.h"
#include "Singleton.h"

using namespace glim;

namespace {
std::atomic<CSettingsFile*> g_pSettingsFile{nullptr};
CStaticCriticalSection g_csSettingsFile;
}  // namespace

CMyMutex::CMyMutex(const wchar_t* pszName)
    : m_hMutex(CreateMutexW(nullptr, FALSE, pszName))
{
}

CMyMutex::~CMyMutex() = default;  // the owner closes the handle

CAutoLock::CAutoLock(CMyMutex* pMutex)
    : m_pMutex(pMutex)
{
    // The result is deliberately not examined: after a timeout or an abandoned wait the
    // access goes ahead all the same.
    if (m_pMutex && m_pMutex->m_hMutex)
        WaitForSingleObject(m_pMutex->m_hMutex.Get(), kWaitMs);
}

CAutoLock::~CAutoLock()
{
    // Also after a timeout: releasing a mutex this thread does not own fails quietly.
    if (m_pMutex)
        ReleaseMutex(m_pMutex->m_hMutex.Get());
}

CSettingsFile::CSettingsFile()
    : m_szPath{}
    , m_mutex(kMutexConf)
{
}

CSettingsFile::~CSettingsFile() = default;

CSettingsFile* CSettingsFile::GetInstance()
{
    return GetOrCreateInstance(g_pSettingsFile, g_csSettingsFile);
}

bool CSettingsFile::CombineSettingsPath(const wchar_t* pszPrefix, wchar_t (&szOut)[kPathChars])
{
    // PathCombineW may write up to MAX_PATH characters, more than szOut holds: combine
    // into a full-size buffer and copy only a result that fits.
    wchar_t szFull[MAX_PATH] = {};
    szOut[0] = L'\0';
    if (!PathCombineW(szFull, pszPrefix, kSettingsRelativePath))
        return false;
    const size_t cch = wcslen(szFull);
    if (cch >= kPathChars)
        return false;
    wmemcpy(szOut, szFull, cch + 1);
    return true;
}

bool CSettingsFile::BuildPath()
{
    wchar_t szPrefix[kNameChars] = {};
    // When the variable is missing or longer than the buffer, the prefix stays empty and
    // the bare relative path results.
    if (GetEnvironmentVariableW(kSettingsEnvVar, szPrefix, kNameChars) >= static_cast<DWORD>(kNameChars))
        szPrefix[0] = L'\0';
    if (CombineSettingsPath(szPrefix, m_szPath))
        return true;
    GLIM_LOG('E', L"CSettingsFile::BuildPath", L"settings path too long, prefix=%s", szPrefix);
    return false;
}

DWORD CSettingsFile::ReadInt(const wchar_t* pszKey, DWORD dwDefault)
{
    if (!m_szPath[0])
        return dwDefault;
    CAutoLock lock(&m_mutex);
    return GetPrivateProfileIntW(kSettingsSection, pszKey, static_cast<INT>(dwDefault), m_szPath);
}

wchar_t* CSettingsFile::ReadString(const wchar_t* pszKey)
{
    wchar_t* pszBuffer = new (std::nothrow) wchar_t[kSettingStringChars]();
    if (!pszBuffer || !m_szPath[0])
        return pszBuffer;
    CAutoLock lock(&m_mutex);
    GetPrivateProfileStringW(kSettingsSection, pszKey, L"", pszBuffer, kSettingStringChars, m_szPath);
    return pszBuffer;
}

void CSettingsFile::WriteInt(const wchar_t* pszKey, int nValue)
{
    if (!m_szPath[0])
        return;
    CAutoLock lock(&m_mutex);
    wchar_t szText[kSettingStringChars] = {};
    _snwprintf(szText, kSettingStringChars - 1, L"%d", nValue);
    WritePrivateProfileStringW(kSettingsSection, pszKey, szText, m_szPath);
}

void CSettingsFile::WriteString(const wchar_t* pszKey, const wchar_t* pszText)
{
    if (!m_szPath[0])
        return;
    CAutoLock lock(&m_mutex);
    WritePrivateProfileStringW(kSettingsSection, pszKey, pszText, m_szPath);
}
