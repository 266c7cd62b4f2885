#include "ReadLoop.h"

#include <cstddef>
#include <cwchar>

#include "GlimLog.h"
#include "GlimNames.h"
#include "KBBackLight.h"
#include "KBRules.h"
#include "SettingsFile.h"
#include "Service.h"
#include "UsermodeProcess.h"

namespace glim {

namespace {

HANDLE g_hHotkeyEvent = nullptr;  // created by the read thread, kept for the process's life

constexpr DWORD kPowerSuspend = 4;  // PBT_APMSUSPEND
constexpr DWORD kPowerResume = 7;   // PBT_APMRESUMESUSPEND

void StartAgent(const wchar_t* pszCommandWord)
{
    // The launcher wants a writable command line.
    wchar_t szCommand[kNameChars] = {};
    wcsncpy(szCommand, pszCommandWord, kNameChars - 1);
    DWORD dwExplorerPid = 0;  // search afresh on every press
    CUsermodeProcess::GetInstance()->CreateUsermodeProcess2(&dwExplorerPid, szCommand, nullptr);
}

}  // namespace

bool IsSessionInfoLocked(BOOL bQueryOk, const WTSINFOEXW* pInfo, DWORD cbReturned)
{
    constexpr DWORD cbNeeded =
        offsetof(WTSINFOEXW, Data) + offsetof(WTSINFOEX_LEVEL1_W, SessionFlags) + sizeof(LONG);
    if (!bQueryOk || !pInfo || cbReturned == 0 || cbReturned < cbNeeded)
        return false;
    return pInfo->Level == 1 &&
           static_cast<DWORD>(pInfo->Data.WTSInfoExLevel1.SessionFlags) == WTS_SESSIONSTATE_LOCK;
}

bool IsConsoleSessionLocked()
{
    LPWSTR pBuffer = nullptr;
    DWORD cbReturned = 0;
    const BOOL bOk = WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, WTSGetActiveConsoleSessionId(),
                                                 WTSSessionInfoEx, &pBuffer, &cbReturned);
    const bool bLocked = IsSessionInfoLocked(bOk, reinterpret_cast<const WTSINFOEXW*>(pBuffer), cbReturned);
    if (pBuffer)
        WTSFreeMemory(pBuffer);
    return bLocked;
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

DWORD WINAPI ReadThread(LPVOID)
{
    g_hHotkeyEvent = CreateEventW(nullptr, FALSE, FALSE, kEventHotkey);
    if (!g_hHotkeyEvent)
        return 0;  // presses are ignored until the service restarts
    for (;;) {
        if (WaitForSingleObject(g_hHotkeyEvent, INFINITE) != WAIT_OBJECT_0)
            continue;
        GLIM_LOG('D', L"ReadThread", L"tovin read");
        HandleHotkeyPress();
    }
}

}  // namespace glim

DWORD CService::EnterMainLoop(DWORD, LPWSTR*)
{
    GLIM_LOG('D', L"CService::EnterMainLoop", L"tovin EnterMainLoop");
    CKBBackLight::GetInstance()->RecoveryCurrentBrightness();
    // Detached: the thread ends with the process.
    HANDLE hThread = CreateThread(nullptr, 0, &glim::ReadThread, nullptr, 0, nullptr);
    if (!hThread)
        return GetLastError();
    CloseHandle(hThread);
    return ERROR_SUCCESS;
}

DWORD CService::OnPowerEvent(DWORD dwEventType, LPVOID)
{
    static const wchar_t kLabel[] = L"CService::OnPowerEvent";
    if (dwEventType == glim::kPowerSuspend) {
        GLIM_LOG('D', kLabel, L"tovin PBT_APMSUSPEND");
    } else if (dwEventType == glim::kPowerResume) {
        GLIM_LOG('D', kLabel, L"tovin PBT_APMRESUMESUSPEND");
        CKBBackLight::GetInstance()->RecoveryCurrentBrightness();
    }
    return ERROR_SUCCESS;
}
