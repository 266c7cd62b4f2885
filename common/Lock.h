// One family of scoped lock holds: a hold takes its lock when made and gives it back when it
// leaves its scope, on every path. Traits say how a kind of lock is taken (within a bound,
// for the kinds another process can hold) and given back. A hold that did not get its lock
// gives nothing back; giving back leaves the caller's last error as it was. A hold made and
// dropped in one expression locks nothing for the code after it: the compiler flags it.
#pragma once

#include <windows.h>

#include "KeepLastError.h"

namespace glim {

// A critical section from construction to destruction.
class CCriticalSection {
public:
    CCriticalSection() { InitializeCriticalSection(&m_cs); }
    ~CCriticalSection() { DeleteCriticalSection(&m_cs); }
    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;

    void Enter() { EnterCriticalSection(&m_cs); }
    void Leave() { LeaveCriticalSection(&m_cs); }

private:
    CRITICAL_SECTION m_cs;
};

// True when a wait obtained a mutex; an abandoned one is ours too (its holder ended).
inline bool Acquired(DWORD dwWait)
{
    return dwWait == WAIT_OBJECT_0 || dwWait == WAIT_ABANDONED;
}

struct SCritSecTraits {
    static constexpr DWORD kDefaultWaitMs = INFINITE;  // in-process: waits for this process's own threads
    using Type = CCriticalSection*;
    static bool Enter(Type p, DWORD /*dwTimeoutMs*/)
    {
        p->Enter();
        return true;
    }
    static void Leave(Type p) { p->Leave(); }
};

struct SSrwExclusiveTraits {
    static constexpr DWORD kDefaultWaitMs = INFINITE;  // in-process: waits for this process's own threads
    using Type = SRWLOCK*;
    static bool Enter(Type p, DWORD /*dwTimeoutMs*/)
    {
        AcquireSRWLockExclusive(p);
        return true;
    }
    static void Leave(Type p) { ReleaseSRWLockExclusive(p); }
};

struct SSrwSharedTraits {
    static constexpr DWORD kDefaultWaitMs = INFINITE;  // in-process: waits for this process's own threads
    using Type = SRWLOCK*;
    static bool Enter(Type p, DWORD /*dwTimeoutMs*/)
    {
        AcquireSRWLockShared(p);
        return true;
    }
    static void Leave(Type p) { ReleaseSRWLockShared(p); }
};

// A kernel mutex: a NULL handle or a wait that runs out leaves the hold without the lock.
struct SMutexTraits {
    using Type = HANDLE;
    static bool Enter(Type h, DWORD dwTimeoutMs) { return h && Acquired(WaitForSingleObject(h, dwTimeoutMs)); }
    static void Leave(Type h) { ReleaseMutex(h); }
};

template <typename Traits>
class [[nodiscard]] CLockHold {
public:
    using Type = typename Traits::Type;

    // dwTimeoutMs bounds the wait for kinds that can time out; the others ignore it. Only
    // in-process kinds have a default: a hold on a lock another process can keep must name
    // its bound, or it does not compile.
    [[nodiscard]] explicit CLockHold(Type lock, DWORD dwTimeoutMs = Traits::kDefaultWaitMs)
        : m_lock(lock)
        , m_bHeld(Traits::Enter(lock, dwTimeoutMs))
    {
    }
    ~CLockHold()
    {
        if (m_bHeld) {
            const CKeepLastError keep;
            Traits::Leave(m_lock);
        }
    }
    CLockHold(const CLockHold&) = delete;
    CLockHold& operator=(const CLockHold&) = delete;

    bool Held() const { return m_bHeld; }
    // Leaves the lock taken when the hold ends (for a lock kept until the process exits).
    void Keep() { m_bHeld = false; }

private:
    Type m_lock;
    bool m_bHeld;
};

using CCritSecLock = CLockHold<SCritSecTraits>;
using CSrwExclusiveLock = CLockHold<SSrwExclusiveTraits>;
using CSrwSharedLock = CLockHold<SSrwSharedTraits>;
using CMutexHold = CLockHold<SMutexTraits>;

// A value that code reaches only through a hold on its lock: Hold() takes the lock, and the
// hold gives the value until it ends. Values may share a lock; a thread that holds it may
// take it again (a critical section nests).
template <typename T>
class CGuarded {
public:
    class [[nodiscard]] CHold {
    public:
        T& operator*() const { return m_value; }
        T* operator->() const { return &m_value; }

    private:
        friend class CGuarded;
        CHold(CCriticalSection* pLock, T& value) : m_hold(pLock), m_value(value) {}

        CCritSecLock m_hold;
        T& m_value;
    };

    explicit CGuarded(CCriticalSection* pLock) : m_pLock(pLock), m_value() {}
    CGuarded(const CGuarded&) = delete;
    CGuarded& operator=(const CGuarded&) = delete;

    [[nodiscard]] CHold Hold() { return CHold(m_pLock, m_value); }

private:
    CCriticalSection* m_pLock;
    T m_value;
};

}  // namespace glim
