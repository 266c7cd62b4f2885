// The process-wide instance rule shared by the major classes: test the pointer, enter the
// class's own critical section (set up at program start), test again, create, leave. The
// instance is never destroyed while the process runs.
#pragma once

#include <windows.h>

#include <atomic>

#include "Lock.h"

namespace glim {

// A critical section that exists from static initialisation to process exit.
using CStaticCriticalSection = CCriticalSection;

// Double-checked creation of T under cs. T's constructor may be private if T befriends
// this function.
template <typename T>
T* GetOrCreateInstance(std::atomic<T*>& slot, CStaticCriticalSection& cs)
{
    T* p = slot.load(std::memory_order_acquire);
    if (p)
        return p;
    CCritSecLock lock(&cs);
    p = slot.load(std::memory_order_relaxed);
    if (!p) {
        p = new T();
        slot.store(p, std::memory_order_release);
    }
    return p;
}

}  // namespace glim
