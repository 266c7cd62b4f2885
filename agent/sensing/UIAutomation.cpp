#include "UIAutomation.h"

#include "GlimLog.h"
#include "SensingRules.h"

using namespace glim;

IUIAutomation* g_pAutomation = nullptr;

namespace {
std::atomic<CUIAutomation*> g_pUIAutomation{nullptr};
CStaticCriticalSection g_csUIAutomation;

template <typename T>
void ReleaseIfSet(T* p)
{
    if (p)
        p->Release();
}
}  // namespace

CUIAutomation::CUIAutomation() = default;
CUIAutomation::~CUIAutomation() = default;

CUIAutomation* CUIAutomation::GetInstance()
{
    return GetOrCreateInstance(g_pUIAutomation, g_csUIAutomation);
}

HRESULT CUIAutomation::InitializeUIAutomation()
{
    GLIM_LOG('D', L"CUIAutomation::InitializeUIAutomation", L"InitializeUIAutomation");
    if (g_pAutomation)
        return S_OK;
    GLIM_LOG('D', L"CUIAutomation::InitializeUIAutomation", L"g_pAutomation == NULL");
    return CoCreateInstance(kCLSID_CUIAutomation, nullptr, CLSCTX_INPROC_SERVER, kIID_IUIAutomation,
                            reinterpret_cast<void**>(&g_pAutomation));
}

// The first descendant of pElement that is a Group with automation id "movie_player".
IUIAutomationElement* CUIAutomation::FindMoviePlayer(IUIAutomationElement* pElement)
{
    IUIAutomationCondition* pGroup = nullptr;
    IUIAutomationCondition* pMovieId = nullptr;
    IUIAutomationCondition* pBoth = nullptr;
    IUIAutomationElement* pFound = nullptr;

    VARIANT varType;
    VariantInit(&varType);
    varType.vt = VT_I4;
    varType.lVal = UIA_GroupControlTypeId;
    VARIANT varId;
    VariantInit(&varId);
    varId.vt = VT_BSTR;
    varId.bstrVal = SysAllocString(L"movie_player");

    g_pAutomation->CreatePropertyCondition(UIA_ControlTypePropertyId, varType, &pGroup);
    if (pGroup)
        g_pAutomation->CreatePropertyCondition(UIA_AutomationIdPropertyId, varId, &pMovieId);
    if (pMovieId)
        g_pAutomation->CreateAndCondition(pGroup, pMovieId, &pBoth);
    if (pBoth)
        pElement->FindFirst(TreeScope_Descendants, pBoth, &pFound);

    ReleaseIfSet(pGroup);
    ReleaseIfSet(pMovieId);
    ReleaseIfSet(pBoth);
    VariantClear(&varId);
    return pFound;
}

int CUIAutomation::IsWindowContainFullMovie(IUIAutomationElement* pElement)
{
    GetInstance();
    IUIAutomationElement* pFound = (g_pAutomation && pElement) ? FindMoviePlayer(pElement) : nullptr;
    int nResult = 0;
    if (pFound) {
        RECT rcPlayer = {};
        const HRESULT hr = pFound->get_CurrentBoundingRectangle(&rcPlayer);
        pFound->Release();
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
    ReleaseIfSet(pElement);
    return nResult;
}
