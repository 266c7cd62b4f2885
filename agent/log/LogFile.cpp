#include "LogFile.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "GlimNames.h"
#include "Lock.h"
#include "ScopedHandle.h"

namespace logfilesync {

namespace {

constexpr wchar_t kGlobalPrefix[] = L"Global\\";
constexpr int kMaxMutexNameBody = kPathChars - 1 - 7;  // 252: room for "Global\" and the terminator

// A security descriptor with a null DACL (access for everyone), inheritable handles.
class CPermissiveSecurity {
public:
    CPermissiveSecurity() : m_sd{}, m_sa{}, m_bOk(false)
    {
        if (InitializeSecurityDescriptor(&m_sd, SECURITY_DESCRIPTOR_REVISION) &&
            SetSecurityDescriptorDacl(&m_sd, TRUE, nullptr, FALSE)) {
            m_sa.nLength = sizeof(m_sa);
            m_sa.lpSecurityDescriptor = &m_sd;
            m_sa.bInheritHandle = TRUE;
            m_bOk = true;
        }
    }
    // Default security when the descriptor could not be built.
    SECURITY_ATTRIBUTES* Get() { return m_bOk ? &m_sa : nullptr; }

private:
    SECURITY_DESCRIPTOR m_sd;
    SECURITY_ATTRIBUTES m_sa;
    bool m_bOk;
};

// The configuration key, open for reading.
class CRegKey {
public:
    bool Open(HKEY hRoot, const wchar_t* pszPath, REGSAM sam)
    {
        return RegOpenKeyExW(hRoot, pszPath, 0, sam, m_hKey.Put()) == ERROR_SUCCESS;
    }
    // Reads up to cb bytes into pData whatever the value's type.
    bool Read(const wchar_t* pszName, void* pData, DWORD cb) const
    {
        return RegQueryValueExW(m_hKey.Get(), pszName, nullptr, nullptr, static_cast<BYTE*>(pData), &cb) ==
            ERROR_SUCCESS;
    }
    bool ReadDword(const wchar_t* pszName, DWORD* pdwValue) const { return Read(pszName, pdwValue, sizeof(*pdwValue)); }

private:
    glim::CScopedKey m_hKey;
};

// The log mutex held for a scope: taken when the wait obtained it, released only then.
struct SLogMutexTraits {
    using Type = CLogFile::CMutexLock*;
    static bool Enter(Type p, DWORD dwTimeoutMs) { return p->Lock(dwTimeoutMs) == ERROR_SUCCESS; }
    static void Leave(Type p) { p->Unlock(); }
};
using CLogMutexHold = glim::CLockHold<SLogMutexTraits>;
using glim::CSrwExclusiveLock;
using glim::CSrwSharedLock;

bool WriteAll(HANDLE hFile, const void* pData, DWORD cb)
{
    DWORD cbWritten = 0;
    return WriteFile(hFile, pData, cb, &cbWritten, nullptr) && cbWritten == cb;
}

void __cdecl OnInvalidParameter(const wchar_t* pszExpression, const wchar_t* pszFunction, const wchar_t* pszFile,
                                unsigned int nLine, uintptr_t /*reserved*/)
{
    // Formatted by the Windows runtime (where %s takes a wide string), then written as is.
    wchar_t szLine[1024] = {};
    _snwprintf(szLine, 1023, L"Invalid parameter detected in function %s. File: %s Line: %d\n",
               pszFunction ? pszFunction : L"", pszFile ? pszFile : L"", static_cast<int>(nLine));
    fputws(szLine, stdout);
    memset(szLine, 0, sizeof(szLine));
    _snwprintf(szLine, 1023, L"Expression: %s\n", pszExpression ? pszExpression : L"");
    fputws(szLine, stdout);
}

}  // namespace

bool BuildMutexName(const wchar_t* pszPath, wchar_t (&szName)[kPathChars])
{
    szName[0] = L'\0';
    if (!pszPath)
        return false;
    wchar_t szBody[kMaxMutexNameBody + 1] = {};
    int nKept = 0;
    for (const wchar_t* p = pszPath; *p && nKept < kMaxMutexNameBody; ++p) {
        if (*p != L' ' && *p != L'.' && *p != L'\\')
            szBody[nKept++] = *p;
    }
    if (nKept == 0)
        return false;
    int n = _snwprintf(szName, kPathChars - 1, L"%s%s", kGlobalPrefix, szBody);
    if (n < 0) {
        szName[0] = L'\0';
        return false;
    }
    szName[n] = L'\0';
    return true;
}

int FormatLinePrefix(wchar_t (&szPrefix)[kPrefixChars], const SYSTEMTIME& st, char chLevel, DWORD dwProcessId,
                     DWORD dwThreadId, const wchar_t* pszFunction, int nLine)
{
    memset(szPrefix, 0, sizeof(szPrefix));
    // %06d of the ids as signed values, as the format says; ids are far below 2^31.
    int n =
        _snwprintf(szPrefix, kPrefixChars - 1, kPrefixFormat, st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute,
                   st.wSecond, st.wMilliseconds, static_cast<wchar_t>(static_cast<unsigned char>(chLevel)),
                   static_cast<int>(dwProcessId), static_cast<int>(dwThreadId), pszFunction ? pszFunction : L"", nLine);
    if (n < 0) {
        szPrefix[0] = L'\0';
        return -1;
    }
    return n;
}

void InstallInvalidParameterHandler()
{
    _set_invalid_parameter_handler(OnInvalidParameter);
}

wchar_t* FormatMessageText(const wchar_t* pszFormat, va_list args, size_t* pnChars)
{
    *pnChars = 0;
    if (!pszFormat)
        return nullptr;
    for (size_t nSize = kFirstMessageChars; nSize <= kMaxMessageChars; nSize *= 2) {
        wchar_t* pBuffer = static_cast<wchar_t*>(calloc(nSize, sizeof(wchar_t)));
        if (!pBuffer)
            return nullptr;
        InstallInvalidParameterHandler();
        va_list argsCopy;
        va_copy(argsCopy, args);
        errno = 0;
        int n = _vsnwprintf(pBuffer, nSize - 1, pszFormat, argsCopy);
        int nErr = errno;
        va_end(argsCopy);
        if (n > 0) {
            *pnChars = static_cast<size_t>(n);
            return pBuffer;
        }
        free(pBuffer);
        // A rejected format fails the same way at any size: do not grow to the limit for it.
        if (n == 0 || nErr == EINVAL)
            return nullptr;
    }
    return nullptr;
}

// ---------------------------------------------------------------------------------------

CLogFile::CMutexLock::CMutexLock() : m_dwTimeout(0), m_bValid(FALSE)
{
}

CLogFile::CMutexLock::~CMutexLock()
{
    Close();
}

bool CLogFile::CMutexLock::Create(const wchar_t* pszName)
{
    if (m_hMutex)
        return false;
    CPermissiveSecurity security;
    HANDLE hMutex = CreateMutexW(security.Get(), FALSE, pszName);
    if (!hMutex) {
        // Releasing needs MUTEX_MODIFY_STATE besides SYNCHRONIZE: a mutex opened for
        // waiting only could be taken but never given back.
        hMutex = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, pszName);
    }
    if (!hMutex)
        return false;
    m_hMutex.Reset(hMutex);
    m_dwTimeout = kLockWaitMs;
    m_bValid = TRUE;
    return true;
}

DWORD CLogFile::CMutexLock::Lock()
{
    return Lock(m_dwTimeout);
}

DWORD CLogFile::CMutexLock::Lock(DWORD dwTimeoutMs)
{
    if (!m_bValid)
        return ERROR_NOT_READY;
    switch (WaitForSingleObject(m_hMutex.Get(), dwTimeoutMs)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:  // the previous owner ended while writing: the mutex is ours now
        return ERROR_SUCCESS;
    case WAIT_TIMEOUT: return ERROR_BUSY;
    default: return 1;
    }
}

DWORD CLogFile::CMutexLock::Unlock()
{
    if (!m_bValid)
        return ERROR_NOT_READY;
    return ReleaseMutex(m_hMutex.Get()) ? ERROR_SUCCESS : GetLastError();
}

void CLogFile::CMutexLock::Close()
{
    m_hMutex.Reset();
    m_dwTimeout = 0;
    m_bValid = FALSE;
}

// ---------------------------------------------------------------------------------------

CLogFile::CLogFile() : m_dwEnabled(0), m_szLogPath{}, m_dwAppend(0), m_dwLogLevel(0), m_adwLevel{}, m_lDropped(0)
{
    InitializeSRWLock(&m_srwHandles);
    m_adwLevel['V'] = 0;
    m_adwLevel['D'] = 1;
    m_adwLevel['I'] = 2;
    m_adwLevel['W'] = 3;
    m_adwLevel['E'] = 4;
}

CLogFile::~CLogFile()
{
    CloseFile();
    m_lock.Close();
}

DWORD CLogFile::LevelNumber(char chLevel) const
{
    unsigned char uch = static_cast<unsigned char>(chLevel);
    return uch < 128 ? m_adwLevel[uch] : 0;
}

bool CLogFile::LoadConfig()
{
    m_dwEnabled = 0;
    CRegKey key;
    if (!key.Open(HKEY_LOCAL_MACHINE, glim::kAgentLogRegKey, KEY_QUERY_VALUE | KEY_WOW64_64KEY))
        return false;
    if (!key.ReadDword(kValueEnabled, &m_dwEnabled))
        return false;
    // 520 bytes at most; the extra element keeps a terminator after a full-length value.
    wchar_t szPath[kPathChars + 1] = {};
    if (!key.Read(kValueLogPath, szPath, kPathChars * sizeof(wchar_t)) || wcsnlen(szPath, kPathChars) >= kPathChars) {
        m_dwEnabled = 0;
        return false;
    }
    wcscpy(m_szLogPath, szPath);
    if (!key.ReadDword(kValueAppend, &m_dwAppend))
        m_dwAppend = 0;
    if (!key.ReadDword(kValueLogLevel, &m_dwLogLevel))
        m_dwLogLevel = 0;
    return m_dwEnabled != 0 && Open();
}

bool CLogFile::Open()
{
    CSrwExclusiveLock hold(&m_srwHandles);
    return OpenLocked();
}

bool CLogFile::OpenLocked()
{
    if (m_szLogPath[0] == L'\0')
        return false;
    wchar_t szMutexName[kPathChars];
    if (!BuildMutexName(m_szLogPath, szMutexName))
        return false;
    if (m_lock.IsValid() || !m_lock.Create(szMutexName))
        return false;

    bool bOk = false;
    {
        CLogMutexHold mutexHold(&m_lock, kLockWaitMs);
        CloseFile();

        wchar_t szDir[kPathChars];
        wcscpy(szDir, m_szLogPath);
        wchar_t* pSlash = wcsrchr(szDir, L'\\');
        if (pSlash) {
            *pSlash = L'\0';
            // A failure shows up when the file is created below.
            if (szDir[0] && !PathIsDirectoryW(szDir))
                SHCreateDirectoryExW(nullptr, szDir, nullptr);
        }

        CPermissiveSecurity security;
        glim::CScopedFile hFile(CreateFileW(m_szLogPath, GENERIC_READ | GENERIC_WRITE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, security.Get(),
                                            m_dwAppend ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD dwErr = GetLastError();
        if (hFile) {
            bOk = true;
            if (!m_dwAppend || dwErr != ERROR_ALREADY_EXISTS) {
                static const BYTE kBom[2] = {0xFF, 0xFE};
                LARGE_INTEGER liZero = {};
                bOk = SetFilePointerEx(hFile.Get(), liZero, nullptr, FILE_BEGIN) &&
                    WriteAll(hFile.Get(), kBom, sizeof(kBom));
            }
            if (bOk)
                m_hFile = std::move(hFile);  // the log owns it from here until Close
        }
    }
    if (!bOk)
        m_lock.Close();
    return bOk;
}

bool CLogFile::Log(char chLevel, const wchar_t* pszFunction, int nLine, const wchar_t* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    bool bWritten = LogV(chLevel, pszFunction, nLine, pszFormat, args);
    va_end(args);
    return bWritten;
}

bool CLogFile::LogV(char chLevel, const wchar_t* pszFunction, int nLine, const wchar_t* pszFormat, va_list args)
{
    if (!m_dwEnabled || !IsOpen())
        return false;
    if (LevelNumber(chLevel) < m_dwLogLevel)
        return false;
    size_t nChars = 0;
    wchar_t* pMessage = FormatMessageText(pszFormat, args, &nChars);
    if (!pMessage)
        return false;
    bool bWritten = WriteLine(chLevel, pszFunction, nLine, pMessage, nChars);
    free(pMessage);
    return bWritten;
}

bool CLogFile::WriteLine(char chLevel, const wchar_t* pszFunction, int nLine, const wchar_t* pszMessage, size_t nChars)
{
    if (nChars > MAXDWORD / sizeof(wchar_t))
        return false;
    CSrwSharedLock handlesHold(&m_srwHandles);
    if (!m_hFile)
        return false;
    CLogMutexHold mutexHold(&m_lock, InterlockedCompareExchange(&m_lDropped, 0, 0) ? 0 : kLockWaitMs);
    if (!mutexHold.Held()) {
        InterlockedIncrement(&m_lDropped);
        return false;
    }
    WriteDroppedNote();
    return WriteAt(chLevel, pszFunction, nLine, pszMessage, nChars);
}

// With the mutex and the file handle held: says how many lines were dropped, if any. A note
// that cannot be written keeps its count for the next line.
void CLogFile::WriteDroppedNote()
{
    const LONG lDropped = InterlockedExchange(&m_lDropped, 0);
    if (lDropped == 0)
        return;
    wchar_t szNote[96] = {};
    const int n = _snwprintf(szNote, 95, L"%ld log lines dropped: the log mutex stayed taken", lDropped);
    if (!WriteAt('W', L"logfilesync::CLogFile::WriteLine", __LINE__, szNote, static_cast<size_t>(n)))
        InterlockedExchangeAdd(&m_lDropped, lDropped);
}

bool CLogFile::WriteAt(char chLevel, const wchar_t* pszFunction, int nLine, const wchar_t* pszMessage, size_t nChars)
{
    // Every line goes to the current end, whatever other processes wrote meanwhile.
    LARGE_INTEGER liSize = {};
    if (!GetFileSizeEx(m_hFile.Get(), &liSize) || !SetFilePointerEx(m_hFile.Get(), liSize, nullptr, FILE_BEGIN))
        return false;

    SYSTEMTIME st;
    GetLocalTime(&st);
    wchar_t szPrefix[kPrefixChars];
    int nPrefix =
        FormatLinePrefix(szPrefix, st, chLevel, GetCurrentProcessId(), GetCurrentThreadId(), pszFunction, nLine);
    if (nPrefix < 0)
        return false;

    static const wchar_t kLineEnd[2] = {L'\r', L'\n'};
    return WriteAll(m_hFile.Get(), szPrefix, static_cast<DWORD>(nPrefix * sizeof(wchar_t))) &&
        WriteAll(m_hFile.Get(), pszMessage, static_cast<DWORD>(nChars * sizeof(wchar_t))) &&
        WriteAll(m_hFile.Get(), kLineEnd, sizeof(kLineEnd));
}

bool CLogFile::IsOpen()
{
    CSrwSharedLock hold(&m_srwHandles);
    return m_hFile.IsValid();
}

void CLogFile::Close()
{
    CSrwExclusiveLock hold(&m_srwHandles);
    CloseFile();
    m_lock.Close();
}

void CLogFile::CloseFile()
{
    m_hFile.Reset();
}

}  // namespace logfilesync
