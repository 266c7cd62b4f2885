// Starting a thread of the C runtime without losing its failure: a thread that cannot start
// leaves its work undone, and the log says so.
#pragma once

#include <windows.h>

#include <process.h>

#include <cerrno>
#include <cstdint>

#include "GlimLog.h"

namespace glim {

// Starts pfnThread(pvArg) with _beginthread; true once it runs. A thread that cannot start
// is logged as "_beginthread(<name>) failed, errno=<n>" under the caller's label.
inline bool BeginThread(const wchar_t* pszFunction, int nLine, const wchar_t* pszName, void(__cdecl* pfnThread)(void*),
                        void* pvArg)
{
    if (_beginthread(pfnThread, 0, pvArg) != static_cast<uintptr_t>(-1))
        return true;
    GlimLog('E', pszFunction, nLine, L"_beginthread(%s) failed, errno=%d", pszName, errno);
    return false;
}

}  // namespace glim

// The caller's own line goes into the log, as with GLIM_LOG.
#define GLIM_BEGIN_THREAD(label, name, thread, arg) glim::BeginThread((label), __LINE__, (name), (thread), (arg))
