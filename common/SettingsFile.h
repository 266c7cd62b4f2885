// The shared settings file (an INI file in the all-users data folder) and the named
// mutex "mut_conf" that brackets every single access to it. In the service each access also
// takes the console session's "mut_conf" (the users' programs know only their session's
// copy) and touches the file only when it is the plain file at its path.
#pragma once

#include <windows.h>

#include <atomic>

#include "ScopedHandle.h"
#include "Singleton.h"

// Owner of one named mutex handle.
class CMyMutex {
public:
    // With an SDDL text, a mutex this call creates gets that security; one that exists keeps its own.
    explicit CMyMutex(const wchar_t* pszName, const wchar_t* pszSddl = nullptr);
    virtual ~CMyMutex();
    CMyMutex(const CMyMutex&) = delete;
    CMyMutex& operator=(const CMyMutex&) = delete;

    glim::CScopedHandle m_hMutex;  // empty when creation failed
};

// Scoped lock: waits up to 3000 ms, then goes ahead whether or not the mutex was obtained
// (a stuck holder delays an access but never blocks it), and releases on destruction.
class CAutoLock {
public:
    static constexpr DWORD kWaitMs = 3000;

    explicit CAutoLock(CMyMutex* pMutex);
    virtual ~CAutoLock();
    CAutoLock(const CAutoLock&) = delete;
    CAutoLock& operator=(const CAutoLock&) = delete;

private:
    CMyMutex* m_pMutex;
};

class CSettingsFile {
public:
    static CSettingsFile* GetInstance();
    virtual ~CSettingsFile();

    // Fills m_szPath from ALLUSERSPROFILE. Returns false, and leaves the path empty, when
    // the combined path does not fit in m_szPath; every access then reads the caller's
    // default and drops writes, as with a missing folder.
    bool BuildPath();

    DWORD ReadInt(const wchar_t* pszKey, DWORD dwDefault);
    // Returns a new 255-character buffer (at most 254 characters of the value); the caller
    // frees it with delete[]. Returns nullptr only when the allocation fails.
    wchar_t* ReadString(const wchar_t* pszKey);
    void WriteInt(const wchar_t* pszKey, int nValue);
    void WriteString(const wchar_t* pszKey, const wchar_t* pszText);

    const wchar_t* GetPath() const { return m_szPath; }

    static constexpr int kPathChars = 256;

    // The pure part of BuildPath: joins a prefix and the relative settings path into a
    // buffer of kPathChars. An empty prefix gives the bare relative path. Returns false
    // and an empty buffer when the result would not fit.
    static bool CombineSettingsPath(const wchar_t* pszPrefix, wchar_t (&szOut)[kPathChars]);

    // How a service names a named object of another session: "Session\<id>\<name>". False,
    // and an empty buffer, for "no console session" (0xFFFFFFFF) or a name that does not fit.
    static constexpr int kSessionNameChars = 64;
    static bool BuildSessionObjectName(DWORD dwSessionId, const wchar_t* pszName, wchar_t (&szOut)[kSessionNameChars]);

private:
    class CAccess;  // one access: the lock (in the service both), and there the checked file

    CSettingsFile();
    template <typename T>
    friend T* glim::GetOrCreateInstance(std::atomic<T*>&, glim::CStaticCriticalSection&);

    wchar_t m_szPath[kPathChars];
    CMyMutex m_mutex;
    std::atomic<bool> m_bRefusalLogged{false};  // the service logs a refused file once per refusal
};
