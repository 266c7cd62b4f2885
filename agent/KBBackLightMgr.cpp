#include "KBBackLightMgr.h"

#include <objbase.h>

#include "AgentRules.h"
#include "GlimLog.h"
#include "GlimNames.h"
#include "KBBackLight.h"
#include "MainThread.h"
#include "PowerMonitor.h"
#include "ScopedHandle.h"
#include "SettingsFile.h"
#include "ThreadStart.h"
#include "osd/OSDWindow.h"
#include "sensing/AmbientLightAware.h"
#include "sensing/FullScreen.h"
#include "sensing/InputTracking.h"

using namespace glim;
using agent::ConfigNotice;

namespace {
std::atomic<CKBBackLightMgr*> g_pMgr{nullptr};
CStaticCriticalSection g_csMgr;

constexpr UINT kRecoveryAfterMs = 3000;

void InActiveHandler(bool bInActive)
{
    CKBBackLightMgr::GetInstance()->InActiveTimerHandler(bInActive);
}

constexpr int kListenerEventAttempts = 20;
constexpr DWORD kListenerEventRetryMs = 250;

// A relay may create the listener's event a moment before this instance does. Relays run
// with the user's own token, so such an event opens here; but another object may hold the
// name for a moment (a relay of an older version, started with other rights, ends soon and
// takes it with it), so creating (or opening it just to wait on it) is tried for about five
// seconds before the listener gives up. A first attempt that succeeds costs nothing more.
// Each different error is logged once, not once per attempt.
HANDLE CreateListenerEvent(const wchar_t* pszLabel, const wchar_t* pszEvent)
{
    DWORD dwLoggedErr = ERROR_SUCCESS;
    for (int nAttempt = 1;; ++nAttempt) {
        HANDLE hEvent = CreateEventW(nullptr, FALSE, FALSE, pszEvent);
        DWORD dwErr = hEvent ? ERROR_SUCCESS : GetLastError();
        if (!hEvent)
            hEvent = OpenEventW(SYNCHRONIZE, FALSE, pszEvent);
        if (hEvent)
            return hEvent;
        if (dwErr != dwLoggedErr) {
            GLIM_LOG('E', pszLabel, L"CreateEvent(%s) failed, dwErr=%d", pszEvent, static_cast<int>(dwErr));
            dwLoggedErr = dwErr;
        }
        if (nAttempt == kListenerEventAttempts)
            return nullptr;
        Sleep(kListenerEventRetryMs);
    }
}

// The listeners' common loop: the event is created here (a relay may also create it, so
// whoever comes first makes it), and each wake-up hands one message to the main window.
// SendMessageW waits for the main thread, so all reactions run there one at a time.
// A failure ends the listener with an 'E' line under the listener's label.
template <typename Step>
void ServeEvent(const wchar_t* pszLabel, const wchar_t* pszEvent, Step step)
{
    const CScopedHandle hEvent(CreateListenerEvent(pszLabel, pszEvent));
    if (!hEvent)
        return;
    for (;;) {
        if (WaitForSingleObject(hEvent.Get(), INFINITE) != WAIT_OBJECT_0) {
            GLIM_LOG('E', pszLabel, L"WaitForSingleObject(%s) failed, dwErr=%d", pszEvent,
                     static_cast<int>(GetLastError()));
            return;
        }
        step();
    }
}

HWND MainWindow()
{
    return CKBBackLightMgr::GetInstance()->m_hWnd;
}
}  // namespace

CKBBackLightMgr::CKBBackLightMgr()
    : m_pOSD(nullptr)
    , m_hWnd(nullptr)
    , m_hInstance(nullptr)
    , m_bFullScreen(0)
    , m_bFullScreenRuled(0)
    , m_bEnterInActive(0)
    , m_enterFullTimer(&CKBBackLightMgr::timer_enterfullproc)
    , m_luxTimer(&CKBBackLightMgr::timer_AmbientChangeStatus)
    , m_recoveryTimer(&CKBBackLightMgr::timer_RecoveryAutoProc)
{
}

CKBBackLightMgr::~CKBBackLightMgr()
{
    delete m_pOSD;
}

CKBBackLightMgr* CKBBackLightMgr::GetInstance()
{
    return GetOrCreateInstance(g_pMgr, g_csMgr);
}

bool CKBBackLightMgr::Init(HINSTANCE hInstance, HWND hWnd)
{
    m_hInstance = hInstance;
    m_hWnd = hWnd;
    const HRESULT hrCom = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (hrCom != S_OK) {
        GLIM_LOG('E', L"CKBBackLightMgr::Init", L"CoInitializeEx failed, hr=0x%08X", static_cast<unsigned>(hrCom));
        return false;
    }

    CSettingsFile* pSettings = CSettingsFile::GetInstance();
    pSettings->BuildPath();
    // Looks unused, but on a first start this write creates the settings file and its section.
    pSettings->WriteString(kKeyUndefine, L"");

    CambientLightAware* pAmbient = CambientLightAware::GetInstance();
    pAmbient->m_nDarknessLux = static_cast<INT32>(pSettings->ReadInt(kKeyDarknessLux, kDefDarknessLux));
    pAmbient->m_nDimIndoorsLux = static_cast<INT32>(pSettings->ReadInt(kKeyDimIndoorsLux, kDefDimIndoorsLux));
    pAmbient->m_nReportInterval = static_cast<INT32>(pSettings->ReadInt(kKeyAmbientChangeTime, kDefAmbientChangeTime));

    CKBBackLight* pBackLight = CKBBackLight::GetInstance();
    const DWORD dwStatus = pBackLight->GetKBStatus();
    if (dwStatus == kStatusAuto)
        pAmbient->InitAmbientLightAware();

    m_pOSD = new OSDWindow(hInstance, osd::kWidth, osd::kHeight);
    m_pOSD->Create(hInstance);

    CInputTracking* pTracking = CInputTracking::GetInstance();
    g_pfnInActiveHandler = &InActiveHandler;
    if (dwStatus != kStatusOff) {
        CFullScreen::GetInstance()->StartFullScreenMonitor(m_hWnd);
        pTracking->StartTracking();
    }

    INT32 nLevel = 0;
    if (agent::LevelForStatus(dwStatus, pBackLight->GetKBBrightness(), &nLevel))
        pBackLight->SetKBBackLightBrightness(nLevel);

    CPowerMonitor::GetInstance()->InitPowerMonitor(m_hWnd);

    // A listener that cannot start leaves its command words unserved; the agent runs on.
    GLIM_BEGIN_THREAD(L"CKBBackLightMgr::Init", L"GetUWPMessageThread", &CKBBackLightMgr::GetUWPMessageThread, nullptr);
    GLIM_BEGIN_THREAD(L"CKBBackLightMgr::Init", L"GetHostOsdThread", &CKBBackLightMgr::GetHostOsdThread, nullptr);
    GLIM_BEGIN_THREAD(L"CKBBackLightMgr::Init", L"GetHostStatusChangeThread",
                      &CKBBackLightMgr::GetHostStatusChangeThread, nullptr);
    return true;
}

void __cdecl CKBBackLightMgr::GetHostOsdThread(void*)
{
    static const wchar_t kLabel[] = L"CKBBackLightMgr::GetHostOsdThread";
    ServeEvent(kLabel, kEventHostOsd, [] {
        GLIM_LOG('D', kLabel, L"F12 Fressed, only show osd");
        SendMessageW(MainWindow(), WM_OSD, 0, 0);
    });
}

void __cdecl CKBBackLightMgr::GetHostStatusChangeThread(void*)
{
    static const wchar_t kLabel[] = L"CKBBackLightMgr::GetHostStatusChangeThread";
    ServeEvent(kLabel, kEventHostStatusChange, [] {
        GLIM_LOG('D', kLabel, L"F12 Fressed");
        SendMessageW(MainWindow(), WM_F12, 0, 0);
    });
}

void __cdecl CKBBackLightMgr::GetUWPMessageThread(void*)
{
    static const wchar_t kLabel[] = L"CKBBackLightMgr::GetUWPMessageThread";
    ServeEvent(kLabel, kEventUwp, [] {
        CSettingsFile* pSettings = CSettingsFile::GetInstance();
        const INT32 nKind = static_cast<INT32>(pSettings->ReadInt(kKeyUwpwParam, kDefUwpwParam));
        const INT32 nArgument = static_cast<INT32>(pSettings->ReadInt(kKeyUwplParam, kDefUwplParam));
        GLIM_LOG('D', kLabel, L"wparam is %d, lparam is %d", nKind, nArgument);
        // Sign-extended: a missing kind arrives as all bits set and matches no kind.
        SendMessageW(MainWindow(), WM_UWP_MESSAGE, static_cast<WPARAM>(static_cast<INT_PTR>(nKind)),
                     static_cast<LPARAM>(nArgument));
    });
}

void CKBBackLightMgr::SwitchToNextStatus()
{
    GLIM_ASSERT_MAIN_THREAD(L"CKBBackLightMgr::SwitchToNextStatus");
    if (m_bFullScreen)
        return;
    CKBBackLight::GetInstance()->SetNextKBBackLightStatus();
    OnConfigChange(0, 0);
}

void CKBBackLightMgr::ShowOSD()
{
    static const wchar_t kLabel[] = L"CKBBackLightMgr::ShowOSD";
    GLIM_ASSERT_MAIN_THREAD(kLabel);
    GLIM_LOG('D', kLabel, L"ShowOSD");
    const DWORD dwStatus = CKBBackLight::GetInstance()->GetKBStatus();
    if (m_pOSD)
        m_pOSD->Show(static_cast<int>(dwStatus));
}

void CKBBackLightMgr::OnConfigChange(WPARAM wKind, LPARAM lArgument)
{
    static const wchar_t kLabel[] = L"CKBBackLightMgr::OnConfigChange";
    GLIM_ASSERT_MAIN_THREAD(kLabel);
    CKBBackLight* pBackLight = CKBBackLight::GetInstance();
    switch (agent::ClassifyConfigNotice(wKind)) {
    case ConfigNotice::Status:
        GLIM_LOG('D', kLabel, L"confchange_status");
        ApplyStatus();
        ShowOSD();
        break;
    case ConfigNotice::Brightness:
        switch (agent::ActionForBrightnessNotice(pBackLight->GetKBStatus(), lArgument)) {
        case agent::BrightnessNoticeAction::Apply:
            pBackLight->SetKBBackLightBrightness(static_cast<INT32>(pBackLight->GetKBBrightness()));
            break;
        case agent::BrightnessNoticeAction::Preview: PreviewBrightness(); break;
        case agent::BrightnessNoticeAction::None: break;
        }
        break;
    case ConfigNotice::IdleTime:
        if (pBackLight->GetKBStatus() != kStatusOff)
            CInputTracking::GetInstance()->StartTracking();
        else
            CInputTracking::GetInstance()->StopTracking();
        break;
    case ConfigNotice::FullScreenRule: {
        const DWORD dwStatus = pBackLight->GetKBStatus();
        CFullScreen* pFullScreen = CFullScreen::GetInstance();
        if (dwStatus != kStatusOff)
            pFullScreen->StartFullScreenMonitor(m_hWnd);
        else
            pFullScreen->StopFullScreenMonitor();
        EndUncheckedFullScreenPeriod();
        break;
    }
    case ConfigNotice::Ignored: break;
    }
}

// Re-applies the stored status: sensor side, level, idle tracking and full-screen check.
void CKBBackLightMgr::ApplyStatus()
{
    GLIM_ASSERT_MAIN_THREAD(L"CKBBackLightMgr::ApplyStatus");
    m_bEnterInActive = 0;
    CKBBackLight* pBackLight = CKBBackLight::GetInstance();
    const DWORD dwStatus = pBackLight->GetKBStatus();
    CambientLightAware* pAmbient = CambientLightAware::GetInstance();
    INT32 nLevel = 0;
    if (agent::LevelForStatus(dwStatus, pBackLight->GetKBBrightness(), &nLevel)) {
        pAmbient->UninitAmbientLightAware();
        pBackLight->SetKBBackLightBrightness(nLevel);
    } else {
        pAmbient->InitAmbientLightAware();
    }
    CInputTracking* pTracking = CInputTracking::GetInstance();
    if (dwStatus == kStatusOff) {
        pTracking->StopTracking();
        CFullScreen::GetInstance()->StopFullScreenMonitor();
    } else {
        pTracking->StartTracking();
        CFullScreen::GetInstance()->StartFullScreenMonitor(m_hWnd);
    }
    EndUncheckedFullScreenPeriod();
}

// Shows the user's new level in Auto for three seconds after the latest notice, then
// lets the ambient light take over again.
void CKBBackLightMgr::PreviewBrightness()
{
    GLIM_ASSERT_MAIN_THREAD(L"CKBBackLightMgr::PreviewBrightness");
    CKBBackLight* pBackLight = CKBBackLight::GetInstance();
    pBackLight->SetKBBackLightBrightness(static_cast<INT32>(pBackLight->GetKBBrightness()));
    CambientLightAware::GetInstance()->UninitAmbientLightAware();
    m_recoveryTimer.Start(kRecoveryAfterMs);
}

void CKBBackLightMgr::timer_RecoveryAutoProc()
{
    static const wchar_t kLabel[] = L"CKBBackLightMgr::timer_RecoveryAutoProc";
    GLIM_ASSERT_MAIN_THREAD(kLabel);
    GLIM_LOG('D', kLabel, L"timer_RecoveryAutoProc");
    CambientLightAware::GetInstance()->InitAmbientLightAware();
}

// The automatic rules (FullScreenHandler, InActiveTimerHandler, UpdateBrightnessByLux and
// their timers) are in KBBackLightMgrPolicies.cpp.

void CKBBackLightMgr::OnScreenOn()
{
    static const wchar_t kLabel[] = L"CKBBackLightMgr::OnScreenOn";
    GLIM_ASSERT_MAIN_THREAD(kLabel);
    GLIM_LOG('D', kLabel, L"OnScreenOn");
}

void CKBBackLightMgr::OnScreenOff()
{
    static const wchar_t kLabel[] = L"CKBBackLightMgr::OnScreenOff";
    GLIM_ASSERT_MAIN_THREAD(kLabel);
    GLIM_LOG('D', kLabel, L"OnScreenOff");
}
