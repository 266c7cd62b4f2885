#include "ReadLoop.h"

#include <atomic>
#include <cstddef>
#include <cwchar>
#include <string>

#include <aclapi.h>
#include <sddl.h>

#include "GlimLog.h"
#include "GlimNames.h"
#include "KBBackLight.h"
#include "KBRules.h"
#include "Lock.h"
#include "ScopedHandle.h"
#include "SettingsFile.h"
#include "SharedTrust.h"
#include "UsermodeProcess.h"

namespace glim {

namespace {

HANDLE g_hHotkeyEvent = nullptr;  // created by the read thread, kept for the process's life

// A process that ends inside CreateProcessAsUserW may leave the new agent suspended for
// good, so a stop lets an agent start under way finish and no start begins after it. The
// read thread holds the lock for each start; StopAgentStarts sets the flag and then takes
// the lock. The lock is unnamed, created by StartReadThread before the thread starts.
HANDLE g_hAgentStartLock = nullptr;
std::atomic<bool> g_bAgentStartsStopped{false};

// What a session query hands out.
struct SWtsMemoryTraits {
    using Type = LPWSTR;
    static Type Invalid() { return nullptr; }
    static void Close(Type p) { WTSFreeMemory(p); }
};

void StartAgent(const wchar_t* pszCommandWord)
{
    // Only a stop holds the lock for longer than one start, and it keeps it (or leaves it
    // abandoned as its thread ends): either way the flag is set by then.
    CMutexHold hold(g_hAgentStartLock, kAgentStartStopLimitMs);
    if (!hold.Held() || g_bAgentStartsStopped)
        return;
    // The launcher wants a writable command line.
    wchar_t szCommand[kNameChars] = {};
    wcsncpy(szCommand, pszCommandWord, kNameChars - 1);
    DWORD dwExplorerPid = 0;  // search afresh on every press
    CUsermodeProcess::GetInstance()->CreateUsermodeProcess2(&dwExplorerPid, szCommand, nullptr);
}

}  // namespace

HANDLE CreateHotkeyEvent(const wchar_t* pszLabel)
{
    CScopedLocalMemory pSd;
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), nullptr, FALSE};
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(kHotkeyEventSddl, SDDL_REVISION_1, pSd.Put(), nullptr))
        attributes.lpSecurityDescriptor = pSd.Get();
    else  // the service's default security still keeps other users out
        GLIM_LOG_LAST_ERROR('W', pszLabel, L"ConvertStringSecurityDescriptor");
    CScopedHandle hEvent(CreateEventW(&attributes, FALSE, FALSE, kEventHotkey));
    if (!hEvent || GetLastError() != ERROR_ALREADY_EXISTS)
        return hEvent.Release();
    // Its maker could take presses (an auto-reset event wakes one waiter) or keep the
    // service out: only an event with the service's own security is served.
    std::wstring strOwner;
    const bool bOwn = IsObjectSystemAndAdministratorsOnly(hEvent.Get(), &strOwner);
    GLIM_LOG('W', pszLabel, L"Event %s existed already, owner %s", kEventHotkey, strOwner.c_str());
    if (!bOwn) {
        GLIM_LOG('E', pszLabel, L"Event %s has security that is not the service's own, not served, dwErr=%d",
                 kEventHotkey, kHotkeyEventForeignError);
        SetLastError(kHotkeyEventForeignError);
        return nullptr;
    }
    SetLastError(ERROR_ALREADY_EXISTS);
    return hEvent.Release();
}

bool IsSessionInfoLocked(BOOL bQueryOk, const WTSINFOEXW* pInfo, DWORD cbReturned)
{
    constexpr DWORD cbNeeded = offsetof(WTSINFOEXW, Data) + offsetof(WTSINFOEX_LEVEL1_W, SessionFlags) + sizeof(LONG);
    if (!bQueryOk || !pInfo || cbReturned == 0 || cbReturned < cbNeeded)
        return false;
    return pInfo->Level == 1 && static_cast<DWORD>(pInfo->Data.WTSInfoExLevel1.SessionFlags) == WTS_SESSIONSTATE_LOCK;
}

bool IsConsoleSessionLocked()
{
    CScoped<SWtsMemoryTraits> buffer;
    DWORD cbReturned = 0;
    const BOOL bOk = WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, WTSGetActiveConsoleSessionId(),
                                                 WTSSessionInfoEx, buffer.Put(), &cbReturned);
    return IsSessionInfoLocked(bOk, reinterpret_cast<const WTSINFOEXW*>(buffer.Get()), cbReturned);
}

void HandleHotkeyPress()
{
    static const wchar_t kLabel[] = L"ReadThread";
    CKBBackLight* pBackLight = CKBBackLight::GetInstance();
    if (!pBackLight->IsF12IntervaltimeMeetsRequirement())
        return;
    GLIM_LOG('D', kLabel, L"f12 span meets");
    if (!IsConsoleSessionLocked()) {
        GLIM_LOG('D', kLabel, L"NoSessionLocked");
        StartAgent(kCmdStatusChange);
        return;
    }
    GLIM_LOG('D', kLabel, L"SessionLocked");
    const DWORD dwStatus = pBackLight->GetKBStatus();
    GLIM_LOG('D', kLabel, L"status is %d", static_cast<int>(dwStatus));
    const DWORD dwNewStatus = NextLockedKBStatus(dwStatus);
    INT32 nLevel = 0;
    if (dwNewStatus != kStatusOff) {
        nLevel = static_cast<INT32>(pBackLight->GetKBBrightness());
        GLIM_LOG('D', kLabel, L"iBrightness is %d", nLevel);
    }
    // Recorded like the agent's own accepted sets, so that the next start or resume puts
    // back this level and not an older one.
    if (pBackLight->SetKBBackLightBrightness(nLevel))
        CSettingsFile::GetInstance()->WriteInt(kKeyCurrentKBBrightness, nLevel);
    // Written whether or not the device took the level.
    pBackLight->SetKBStatus(dwNewStatus);
    StartAgent(kCmdOsd);
}

DWORD WINAPI ReadThread(LPVOID pvStarted)
{
    static const wchar_t kLabel[] = L"ReadThread";
    g_hHotkeyEvent = CreateHotkeyEvent(kLabel);
    if (!g_hHotkeyEvent) {
        // The thread's exit code tells StartReadThread why the service cannot serve presses.
        const DWORD dwErr = GetLastError();
        GLIM_LOG('E', kLabel, L"CreateEvent(%s) failed, dwErr=%d", kEventHotkey, dwErr);
        return dwErr;
    }
    if (pvStarted)
        SetEvent(static_cast<HANDLE>(pvStarted));
    for (;;) {
        // Only a failed wait ends up here; retrying it would spin at full speed.
        if (WaitForSingleObject(g_hHotkeyEvent, INFINITE) != WAIT_OBJECT_0)
            return GLIM_LOG_LAST_ERROR('E', kLabel, L"WaitForSingleObject");
        GLIM_LOG('D', kLabel, L"tovin read");
        HandleHotkeyPress();
    }
}

DWORD WaitForReadThreadStart(HANDLE hStarted, HANDLE hThread, DWORD dwTimeoutMs)
{
    static const wchar_t kLabel[] = L"CService::EnterMainLoop";
    const HANDLE handles[] = {hStarted, hThread};
    DWORD dwErr = ERROR_SUCCESS;
    switch (WaitForMultipleObjects(2, handles, FALSE, dwTimeoutMs)) {
    case WAIT_OBJECT_0: return ERROR_SUCCESS;
    case WAIT_OBJECT_0 + 1:
        if (!GetExitCodeThread(hThread, &dwErr))
            dwErr = GetLastError();
        // A thread that ended without a code of its own still cannot serve presses.
        if (dwErr == ERROR_SUCCESS)
            dwErr = ERROR_SERVICE_NO_THREAD;
        break;
    case WAIT_TIMEOUT: dwErr = ERROR_TIMEOUT; break;
    default: dwErr = GetLastError(); break;
    }
    GLIM_LOG('E', kLabel, L"read thread did not start, dwErr=%d", dwErr);
    return dwErr;
}

DWORD StartReadThread(const wchar_t* pszLabel, CScopedHandle* phThread)
{
    // The thread ends with the process. It signals hStarted once it listens, or ends with
    // the error that kept it from listening.
    g_bAgentStartsStopped = false;
    g_hAgentStartLock = CreateMutexW(nullptr, FALSE, nullptr);
    if (!g_hAgentStartLock)
        return GLIM_LOG_LAST_ERROR('E', pszLabel, L"CreateMutex");
    CScopedHandle hStarted(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!hStarted)
        return GLIM_LOG_LAST_ERROR('E', pszLabel, L"CreateEvent");
    CScopedHandle hThread(CreateThread(nullptr, 0, &ReadThread, hStarted.Get(), 0, nullptr));
    if (!hThread)
        return GLIM_LOG_LAST_ERROR('E', pszLabel, L"CreateThread");
    const DWORD dwErr = WaitForReadThreadStart(hStarted.Get(), hThread.Get(), kReadThreadStartLimitMs);
    // A thread that is late may still signal the event: it stays open for the process's life.
    if (dwErr == ERROR_TIMEOUT)
        hStarted.Keep();
    if (dwErr == ERROR_SUCCESS)
        phThread->Reset(hThread.Release());
    return dwErr;
}

DWORD StopAgentStarts(const wchar_t* pszLabel)
{
    // The read thread itself runs on until the process ends; only its agent starts stop.
    // The lock is kept: a press after this point starts nothing.
    g_bAgentStartsStopped = true;
    if (!g_hAgentStartLock)
        return ERROR_SUCCESS;
    CMutexHold hold(g_hAgentStartLock, kAgentStartStopLimitMs);
    if (!hold.Held()) {
        GLIM_LOG('E', pszLabel, L"agent start still under way, dwErr=%d", ERROR_TIMEOUT);
        return ERROR_TIMEOUT;
    }
    hold.Keep();
    return ERROR_SUCCESS;
}

}  // namespace glim
