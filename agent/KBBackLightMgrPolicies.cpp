// The manager's automatic rules: full-screen video, user idleness and the ambient light
// bands, with their one-shot timers. Everything here runs on the main
// thread: the handlers from the main window's messages and the idle timer, the timer
// procedures from its message loop.
#include "KBBackLightMgr.h"

#include "AgentRules.h"
#include "GlimLog.h"
#include "GlimNames.h"
#include "KBBackLight.h"
#include "MainThread.h"
#include "SettingsFile.h"
#include "sensing/AmbientLightAware.h"
#include "sensing/FullScreen.h"
#include "sensing/InputTracking.h"
#include "sensing/SensingRules.h"

using namespace glim;

namespace {

constexpr UINT kEnterFullDelayMs = 5000;
constexpr UINT kAmbientSettleMs = 500;

bool FullScreenRuleOn()
{
    return CSettingsFile::GetInstance()->ReadInt(kKeyFullScreen5sClose, kDefFullScreen5sClose) != 0;
}

}  // namespace

// Sensor side -> manager: the mean lux reaches the main window, which calls
// UpdateBrightnessByLux on the main thread. Posted, not sent: the main thread may be
// detaching this very sensor, and a detach waits for the sensor's callbacks in flight, so
// a callback waiting for the main thread would hang both. The value fits in wParam, the
// result is unused, and posted messages keep their order.
int DeliverLux(float fLux, int /*nCount*/)
{
    PostMessageW(CKBBackLightMgr::GetInstance()->m_hWnd, WM_LUX, LuxToWParam(fLux), 0);
    return 0;
}

void CKBBackLightMgr::FullScreenHandler(bool bEnter)
{
    static const wchar_t kLabel[] = L"CKBBackLightMgr::FullScreenHandler";
    GLIM_ASSERT_MAIN_THREAD(kLabel);
    m_bFullScreen = bEnter ? 1 : 0;
    const bool bRuleOn = FullScreenRuleOn();
    GLIM_LOG('D', kLabel, L"FullScreenHandler");
    // A period that began with the rule on is undone on leaving even when the rule has been
    // switched off since: otherwise the light would stay off and idle tracking stopped.
    if (!bRuleOn && (bEnter || !m_bFullScreenRuled))
        return;
    m_bFullScreenRuled = bEnter ? 1 : 0;
    if (bEnter) {
        GLIM_LOG('D', kLabel, L"enter full");
        CInputTracking::GetInstance()->StopTracking();
        m_enterFullTimer.Start(kEnterFullDelayMs);
        return;
    }
    GLIM_LOG('D', kLabel, L"exit full");
    CambientLightAware::GetInstance()->m_nAmbientStatus = kBandNone;
    CInputTracking::GetInstance()->StartTracking();
    // A video that leaves full screen within 5 seconds never switches the light off.
    m_enterFullTimer.Cancel();
    CKBBackLight* pBackLight = CKBBackLight::GetInstance();
    if (pBackLight->GetKBStatus() == kStatusOn)
        pBackLight->RecoverySlValueBrightness();
}

// Only the check's verdict ends a full-screen period. Once the check is stopped (the rule
// switched off, or the status set to Off) no verdict comes any more, and the period would
// hold the hotkey and keep the light off until the agent restarts. So it ends here, once,
// as a verdict of 0 would, with idle tracking as the status asks.
void CKBBackLightMgr::OnFullScreenVerdict(WPARAM wVerdict, LPARAM lCheck)
{
    static const wchar_t kLabel[] = L"CKBBackLightMgr::OnFullScreenVerdict";
    GLIM_ASSERT_MAIN_THREAD(kLabel);
    if (!CFullScreen::GetInstance()->IsVerdictCurrent(lCheck)) {
        GLIM_LOG('D', kLabel, L"verdict of a stopped check ignored");
        return;
    }
    switch (agent::FullScreenTransition(m_bFullScreen != 0, wVerdict)) {
    case 1:
        FullScreenHandler(true);
        m_bFullScreen = 1;
        break;
    case -1:
        FullScreenHandler(false);
        m_bFullScreen = 0;
        break;
    default: break;
    }
}

void CKBBackLightMgr::EndUncheckedFullScreenPeriod()
{
    GLIM_ASSERT_MAIN_THREAD(L"CKBBackLightMgr::EndUncheckedFullScreenPeriod");
    if (!m_bFullScreen || CFullScreen::GetInstance()->IsMonitoring())
        return;
    FullScreenHandler(false);
    m_bFullScreen = 0;
    if (CKBBackLight::GetInstance()->GetKBStatus() == kStatusOff)
        CInputTracking::GetInstance()->StopTracking();
}

void CKBBackLightMgr::timer_enterfullproc()
{
    static const wchar_t kLabel[] = L"CKBBackLightMgr::timer_enterfullproc";
    GLIM_ASSERT_MAIN_THREAD(kLabel);
    GLIM_LOG('D', kLabel, L"timer_enterfullproc");
    CKBBackLight* pBackLight = CKBBackLight::GetInstance();
    if (pBackLight->GetKBBackLightBrightness() != 0)
        pBackLight->SetKBBackLightBrightness(0);
}

void CKBBackLightMgr::InActiveTimerHandler(bool bInActive)
{
    static const wchar_t kLabel[] = L"CKBBackLightMgr::InActiveTimerHandler";
    GLIM_ASSERT_MAIN_THREAD(kLabel);
    CKBBackLight* pBackLight = CKBBackLight::GetInstance();
    if (bInActive) {
        if (m_bEnterInActive)
            return;
        GLIM_LOG('D', kLabel, L"InActive");
        m_bEnterInActive = 1;
        const INT32 nBrightness = pBackLight->GetKBBackLightBrightness();
        GLIM_LOG('D', kLabel, L"enter InActive, iBrightness is %d", nBrightness);
        pBackLight->SetKBBackLightBrightness(0);
        return;
    }
    if (!m_bEnterInActive)
        return;
    GLIM_LOG('D', kLabel, L"Active");
    m_bEnterInActive = 0;
    // In Auto the next lux report re-applies the band.
    CambientLightAware::GetInstance()->m_nAmbientStatus = kBandNone;
    const bool bRuleOn = FullScreenRuleOn();
    if (pBackLight->GetKBStatus() != kStatusOn)
        return;
    // During a full-screen period with the rule on, leaving full screen restores the light.
    if (m_bFullScreen && bRuleOn)
        return;
    GLIM_LOG('D', kLabel, L"active-- not full");
    pBackLight->RecoverySlValueBrightness();
}

int CKBBackLightMgr::UpdateBrightnessByLux(float fLux)
{
    static const wchar_t kLabel[] = L"CKBBackLightMgr::UpdateBrightnessByLux";
    GLIM_ASSERT_MAIN_THREAD(kLabel);
    CambientLightAware* pAmbient = CambientLightAware::GetInstance();
    const int nBand = AmbientBand(fLux, pAmbient->m_nDarknessLux, pAmbient->m_nDimIndoorsLux);
    if (nBand == pAmbient->m_nAmbientStatus)
        return 0;
    pAmbient->m_nAmbientStatus = nBand;
    GLIM_LOG('D', kLabel, L"AmbientLightStatusChanged lux is %f, status is %d", static_cast<double>(fLux), nBand);
    if (m_bFullScreen || m_bEnterInActive) {
        GLIM_LOG('D', kLabel, L"m_bFullScreen || m_bEnterInActive");
        return 0;
    }
    // The level follows only a band that has held for the settling time.
    if (m_luxTimer.IsRunning())
        GLIM_LOG('D', kLabel, L"lux timer exist");
    m_luxTimer.Start(kAmbientSettleMs);
    return 0;
}

void CKBBackLightMgr::timer_AmbientChangeStatus()
{
    static const wchar_t kLabel[] = L"CKBBackLightMgr::timer_AmbientChangeStatus";
    GLIM_ASSERT_MAIN_THREAD(kLabel);
    GLIM_LOG('D', kLabel, L"timer_AmbientChangeStatus");
    CKBBackLightMgr* pMgr = GetInstance();
    if (pMgr->m_bFullScreen || pMgr->m_bEnterInActive) {
        GLIM_LOG('D', kLabel, L"m_bFullScreen || m_bEnterInActive");
        return;
    }
    CKBBackLight* pBackLight = CKBBackLight::GetInstance();
    if (pBackLight->GetKBStatus() != kStatusAuto)
        return;
    // The band now, not the one that started the timer.
    const int nBand = CambientLightAware::GetInstance()->m_nAmbientStatus;
    const int nLevel = AmbientBandLevel(nBand, static_cast<int>(pBackLight->GetKBBrightness()));
    if (nBand == kBandDarkness)
        GLIM_LOG('D', kLabel, L"enter Darkness ");
    else if (nBand == kBandDimIndoors)
        GLIM_LOG('D', kLabel, L"enter DimIndoors");
    else if (nBand >= 3 && nBand <= 6)
        GLIM_LOG('D', kLabel, L"enter bright");
    GLIM_LOG('D', kLabel, L"auto set brightness is %d", nLevel);
    pBackLight->SetKBBackLightBrightness(nLevel);
}
