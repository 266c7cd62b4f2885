// The log call that shared code uses. Each program defines GlimLog: the agent writes its
// diagnostics log, the service its service log. With no log open the call does nothing.
#pragma once

#include <windows.h>

// chLevel: 'V', 'D', 'I', 'W' or 'E'. pszFunction: the caller's label ("CClass::Method").
// pszFormat: a wide printf format in the Windows runtime's sense (%s takes a wide string).
void GlimLog(char chLevel, const wchar_t* pszFunction, int nLine, const wchar_t* pszFormat, ...);

#define GLIM_LOG(level, label, ...) GlimLog((level), (label), __LINE__, __VA_ARGS__)

namespace glim {

// Logs "<call> failed, dwErr=<error>" for a Win32 call that just failed and returns the
// error. It is read once, before the log call can change it.
inline DWORD LogLastError(char chLevel, const wchar_t* pszFunction, int nLine, const wchar_t* pszCall)
{
    const DWORD dwErr = GetLastError();
    GlimLog(chLevel, pszFunction, nLine, L"%s failed, dwErr=%d", pszCall, static_cast<int>(dwErr));
    return dwErr;
}

}  // namespace glim

// The caller's own line goes into the log, as with GLIM_LOG.
#define GLIM_LOG_LAST_ERROR(level, label, call) glim::LogLastError((level), (label), __LINE__, (call))
