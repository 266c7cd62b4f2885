#include "UIAutomation.h"

#include "GlimLog.h"
#include "ScopedHandle.h"
#include "SensingRules.h"

using namespace glim;

std::atomic<IUIAutomation*> g_pAutomation{nullptr};

namespace {
std::atomic<CUIAutomation*> g_pUIAutomation{nullptr};
CStaticCriticalSection g_csUIAutomation;
}  // namespace

CUIAutomation::CUIAutomation() = default;
CUIAutomation::~CUIAutomation() = default;

CUIAutomation* CUIAutomation::GetInstance()
{
    return GetOrCreateInstance(g_pUIAutomation, g_csUIAutomation);
}

HRESULT CUIAutomation::InitializeUIAutomation()
{
    static const wchar_t kLabel[] = L"CUIAutomation::InitializeUIAutomation";
    GLIM_LOG('D', kLabel, L"InitializeUIAutomation");
    if (g_pAutomation)
        return S_OK;
    GLIM_LOG('D', kLabel, L"g_pAutomation == NULL");
    // Published only once complete: a check thread may be reading meanwhile.
    IUIAutomation* pCreated = nullptr;
    const HRESULT hr = CoCreateInstance(kCLSID_CUIAutomation, nullptr, CLSCTX_INPROC_SERVER, kIID_IUIAutomation,
                                        reinterpret_cast<void**>(&pCreated));
    if (SUCCEEDED(hr))
        g_pAutomation.store(pCreated);
    return hr;
}

// The first descendant of pElement that is a Group with automation id "movie_player".
CComRef<IUIAutomationElement> CUIAutomation::FindMoviePlayer(IUIAutomationElement* pElement)
{
    CComRef<IUIAutomationCondition> group;
    CComRef<IUIAutomationCondition> movieId;
    CComRef<IUIAutomationCondition> both;
    CComRef<IUIAutomationElement> found;

    CScopedVariant varType;
    varType->vt = VT_I4;
    varType->lVal = UIA_GroupControlTypeId;
    CScopedVariant varId;
    varId->vt = VT_BSTR;
    varId->bstrVal = SysAllocString(L"movie_player");

    IUIAutomation* pClient = g_pAutomation.load();
    pClient->CreatePropertyCondition(UIA_ControlTypePropertyId, *varType.Get(), group.Put());
    if (group)
        pClient->CreatePropertyCondition(UIA_AutomationIdPropertyId, *varId.Get(), movieId.Put());
    if (movieId)
        pClient->CreateAndCondition(group.Get(), movieId.Get(), both.Put());
    if (both)
        pElement->FindFirst(TreeScope_Descendants, both.Get(), found.Put());
    return found;
}

int CUIAutomation::IsWindowContainFullMovie(IUIAutomationElement* pElement)
{
    GetInstance();
    const CComRef<IUIAutomationElement> element(pElement);  // the caller's reference, taken over
    const CComRef<IUIAutomationElement> found =
        (g_pAutomation && pElement) ? FindMoviePlayer(pElement) : CComRef<IUIAutomationElement>();
    int nResult = 0;
    if (found) {
        RECT rcPlayer = {};
        const HRESULT hr = found->get_CurrentBoundingRectangle(&rcPlayer);
        if (SUCCEEDED(hr)) {
            MONITORINFO info = {};
            info.cbSize = sizeof(info);
            HMONITOR hPrimary = MonitorFromWindow(nullptr, MONITOR_DEFAULTTOPRIMARY);
            if (GetMonitorInfoW(hPrimary, &info))
                nResult = RectCoversMonitor(rcPlayer, info.rcMonitor);
        }
    } else {
        GLIM_LOG('D', L"CUIAutomation::IsWindowContainFullMovie", L"movie element not found");
    }
    return nResult;
}
