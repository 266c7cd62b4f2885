// The process-wide instance rule shared by the major classes: test the pointer, enter the
// class's own critical section (set up at program start), test again, create, leave. The
// instance is never destroyed while the process runs.
#pragma once

#include <windows.h>

#include <atomic>

namespace glim {

// A critical section that exists from static initialisation to process exit.
class CStaticCriticalSection {
public:
    CStaticCriticalSection() { InitializeCriticalSection(&m_cs); }
    virtual ~CStaticCriticalSection() { DeleteCriticalSection(&m_cs); }
    CStaticCriticalSection(const CStaticCriticalSection&) = delete;
    CStaticCriticalSection& operator=(const CStaticCriticalSection&) = delete;

    void Enter() { EnterCriticalSection(&m_cs); }
    void Leave() { LeaveCriticalSection(&m_cs); }

private:
    CRITICAL_SECTION m_cs;
};

// Double-checked creation of T under cs. T's constructor may be private if T befriends
// this function.
template <typename T>
T* GetOrCreateInstance(std::atomic<T*>& slot, CStaticCriticalSection& cs)
{
    T* p = slot.load(std::memory_order_acquire);
    if (p)
        return p;
    cs.Enter();
    p = slot.load(std::memory_order_relaxed);
    if (!p) {
        p = new T();
        slot.store(p, std::memory_order_release);
    }
    cs.Leave();
    return p;
}

}  // namespace glim
