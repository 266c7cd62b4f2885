#include "SettingsFile.h"

#include <shlwapi.h>

#include <cwchar>
#include <new>
#include <stdio.h>

#include <sddl.h>

#include "GlimLog.h"
#include "GlimNames.h"
#include "KeepLastError.h"
#include "Lock.h"
#include "SharedTrust.h"
#include "Singleton.h"

using namespace glim;

namespace {
std::atomic<CSettingsFile*> g_pSettingsFile{nullptr};
CStaticCriticalSection g_csSettingsFile;

#if defined(GLIMKIT_SERVICE)
// The service's own copy of the lock lives in session 0, whose namespace is the global one:
// only SYSTEM and Administrators may take it.
constexpr const wchar_t* kOwnLockSddl = L"D:P(A;;0x1f0001;;;SY)(A;;0x1f0001;;;BA)";
#else
constexpr const wchar_t* kOwnLockSddl = nullptr;  // the users' programs keep the default security
#endif

HANDLE CreateMutexWithSddl(const wchar_t* pszName, const wchar_t* pszSddl)
{
    if (!pszSddl)
        return CreateMutexW(nullptr, FALSE, pszName);
    CScopedLocalMemory pSd;
    GLIM_RETURN_LAST_ERROR_IF(
        !ConvertStringSecurityDescriptorToSecurityDescriptorW(pszSddl, SDDL_REVISION_1, pSd.Put(), nullptr), 'E',
        L"CMyMutex", L"ConvertStringSecurityDescriptor", nullptr);
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), pSd.Get(), FALSE};
    return CreateMutexW(&attributes, FALSE, pszName);
}
}  // namespace

CMyMutex::CMyMutex(const wchar_t* pszName, const wchar_t* pszSddl) : m_hMutex(CreateMutexWithSddl(pszName, pszSddl))
{
}

CMyMutex::~CMyMutex() = default;  // the owner closes the handle

CAutoLock::CAutoLock(CMyMutex* pMutex) : m_pMutex(pMutex)
{
    // The result is deliberately not examined: after a timeout or an abandoned wait the
    // access goes ahead all the same.
    if (m_pMutex && m_pMutex->m_hMutex)
        WaitForSingleObject(m_pMutex->m_hMutex.Get(), kWaitMs);
}

CAutoLock::~CAutoLock()
{
    // Also after a timeout: releasing a mutex this thread does not own fails quietly, and
    // leaves the caller's last error as it was.
    if (m_pMutex) {
        const CKeepLastError keep;
        ReleaseMutex(m_pMutex->m_hMutex.Get());
    }
}

// One access to the file. The users' programs take their session's lock. The service takes
// its own and then the console session's, both within the one bound of CAutoLock, and opens
// the file without following a link: it goes ahead only with the plain file at its path (or
// none, which the write creates in the protected folder). The handle it keeps until the
// access ends shares no deletion, so the file cannot be renamed or replaced meanwhile.
class CSettingsFile::CAccess {
public:
    explicit CAccess(CSettingsFile& file)
        : m_ullStart(GetTickCount64())
        , m_lock(&file.m_mutex)
#if defined(GLIMKIT_SERVICE)
        , m_hSessionLock(OpenConsoleSessionLock())
        , m_sessionHold(m_hSessionLock.Get(), RemainingMs())
        , m_trust(OpenAndJudgeFile(file.m_szPath, m_hFile.Put()))
#endif
    {
#if defined(GLIMKIT_SERVICE)
        if (Allowed()) {
            file.m_bRefusalLogged = false;
        } else if (!file.m_bRefusalLogged.exchange(true)) {
            GLIM_LOG('E', L"CSettingsFile", L"settings file %s is %s: not read or written", file.m_szPath,
                     FileTrustText(m_trust));
        }
#endif
    }
    CAccess(const CAccess&) = delete;
    CAccess& operator=(const CAccess&) = delete;

#if defined(GLIMKIT_SERVICE)
    bool Allowed() const
    {
        return m_trust == FileTrust::Plain || m_trust == FileTrust::Missing;
    }
#else
    bool Allowed() const
    {
        return true;
    }
#endif

private:
#if defined(GLIMKIT_SERVICE)
    static HANDLE OpenConsoleSessionLock()
    {
        wchar_t szName[kSessionNameChars] = {};
        if (!BuildSessionObjectName(WTSGetActiveConsoleSessionId(), kMutexConf, szName))
            return nullptr;
        // Opened, never created: a copy the service made there would shut the session's users out.
        return OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, szName);
    }

    DWORD RemainingMs() const
    {
        const ULONGLONG ullElapsed = GetTickCount64() - m_ullStart;
        return ullElapsed < CAutoLock::kWaitMs ? static_cast<DWORD>(CAutoLock::kWaitMs - ullElapsed) : 0;
    }
#endif

    ULONGLONG m_ullStart;
    CAutoLock m_lock;
#if defined(GLIMKIT_SERVICE)
    CScopedHandle m_hSessionLock;
    CMutexHold m_sessionHold;
    CScopedFile m_hFile;
    FileTrust m_trust;
#endif
};

CSettingsFile::CSettingsFile() : m_szPath{}, m_mutex(kMutexConf, kOwnLockSddl)
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

bool CSettingsFile::BuildSessionObjectName(DWORD dwSessionId, const wchar_t* pszName,
                                           wchar_t (&szOut)[kSessionNameChars])
{
    szOut[0] = L'\0';
    if (dwSessionId == 0xFFFFFFFF || !pszName || !*pszName)
        return false;
    const int cch =
        _snwprintf(szOut, kSessionNameChars, L"Session\\%lu\\%s", static_cast<unsigned long>(dwSessionId), pszName);
    if (cch < 0 || cch >= kSessionNameChars) {
        szOut[0] = L'\0';
        return false;
    }
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
    const CAccess access(*this);
    if (!access.Allowed())
        return dwDefault;
    return GetPrivateProfileIntW(kSettingsSection, pszKey, static_cast<INT>(dwDefault), m_szPath);
}

wchar_t* CSettingsFile::ReadString(const wchar_t* pszKey)
{
    wchar_t* pszBuffer = new (std::nothrow) wchar_t[kSettingStringChars]();
    if (!pszBuffer || !m_szPath[0])
        return pszBuffer;
    const CAccess access(*this);
    if (!access.Allowed())
        return pszBuffer;
    GetPrivateProfileStringW(kSettingsSection, pszKey, L"", pszBuffer, kSettingStringChars, m_szPath);
    return pszBuffer;
}

void CSettingsFile::WriteInt(const wchar_t* pszKey, int nValue)
{
    if (!m_szPath[0])
        return;
    const CAccess access(*this);
    if (!access.Allowed())
        return;
    wchar_t szText[kSettingStringChars] = {};
    _snwprintf(szText, kSettingStringChars - 1, L"%d", nValue);
    WritePrivateProfileStringW(kSettingsSection, pszKey, szText, m_szPath);
}

void CSettingsFile::WriteString(const wchar_t* pszKey, const wchar_t* pszText)
{
    if (!m_szPath[0])
        return;
    const CAccess access(*this);
    if (!access.Allowed())
        return;
    WritePrivateProfileStringW(kSettingsSection, pszKey, pszText, m_szPath);
}
