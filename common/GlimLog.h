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

// Logs "<call> failed, hr=0x<hr>" for a COM call that failed and returns the HRESULT.
inline HRESULT LogHr(char chLevel, const wchar_t* pszFunction, int nLine, const wchar_t* pszCall, HRESULT hr)
{
    GlimLog(chLevel, pszFunction, nLine, L"%s failed, hr=0x%08X", pszCall, static_cast<unsigned>(hr));
    return hr;
}

}  // namespace glim

// The caller's own line goes into the log, as with GLIM_LOG.
#define GLIM_LOG_LAST_ERROR(level, label, call) glim::LogLastError((level), (label), __LINE__, (call))
#define GLIM_LOG_HR(level, label, call, hr) glim::LogHr((level), (label), __LINE__, (call), (hr))

// Return on failure: when `failed` holds, the call's failure is logged as above and the
// calling function returns `value` (left empty in a function that returns nothing).
#define GLIM_RETURN_LAST_ERROR_IF(failed, level, label, call, value)                                                   \
    do {                                                                                                               \
        if (failed) {                                                                                                  \
            GLIM_LOG_LAST_ERROR(level, label, call);                                                                   \
            return value;                                                                                              \
        }                                                                                                              \
    } while (false)

// The same for an HRESULT, evaluated once: a FAILED one is logged and `value` returned.
#define GLIM_RETURN_HR_IF_FAILED(hr, level, label, call, value)                                                        \
    do {                                                                                                               \
        const HRESULT hrGlimChecked = (hr);                                                                            \
        if (FAILED(hrGlimChecked)) {                                                                                   \
            GLIM_LOG_HR(level, label, call, hrGlimChecked);                                                            \
            return value;                                                                                              \
        }                                                                                                              \
    } while (false)
