// The UI Automation client declarations and CUIAutomation against the simulated client
// (sim/uiasim), whose vtables are laid out slot by slot from the documented order: every
// call through the declarations must reach the slot it names, and the video player search
// must cover the monitor exactly and release everything it obtained.
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <string>

#include "SimComServer.h"
#include "SimUIADriver.h"
#include "TestLog.h"
#include "UIAutomation.h"
#include "UIAutomationDecl.h"

using namespace glim;
using namespace glimtest;

class UIAutomationClient : public ::testing::Test {
protected:
    static void SetUpTestSuite() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }

    void SetUp() override
    {
        ASSERT_TRUE(m_registration.Ok()) << m_registration.Error();
        ASSERT_TRUE(m_driver.Ok());
        ASSERT_EQ(0, m_driver.State().nLiveObjects) << "a previous test leaked elements or conditions";
        ASSERT_EQ(S_OK, CUIAutomation::GetInstance()->InitializeUIAutomation());
        ASSERT_NE(nullptr, g_pAutomation.load());
        HMONITOR hPrimary = MonitorFromWindow(nullptr, MONITOR_DEFAULTTOPRIMARY);
        MONITORINFO info = {};
        info.cbSize = sizeof(info);
        ASSERT_TRUE(GetMonitorInfoW(hPrimary, &info));
        m_rcPrimary = info.rcMonitor;
        glimtest::Clear();
    }

    IUIAutomationElement* WindowElement()
    {
        IUIAutomationElement* pElement = nullptr;
        EXPECT_EQ(S_OK, g_pAutomation.load()->ElementFromHandle(GetDesktopWindow(), &pElement));
        return pElement;
    }

    int Judge(const RECT& rcMovie)
    {
        m_driver.SetMovie(rcMovie);
        return CUIAutomation::GetInstance()->IsWindowContainFullMovie(WindowElement());
    }

    CSimComRegistration m_registration{kCLSID_CUIAutomation, simuia::kDllName};
    CSimUIADriver m_driver;
    RECT m_rcPrimary = {};
};

TEST_F(UIAutomationClient, EveryCallReachesItsDocumentedSlot)
{
    IUIAutomation* pAutomation = g_pAutomation;
    IUIAutomationElement* pElement = WindowElement();
    ASSERT_NE(nullptr, pElement);
    IUIAutomationCondition* pA = nullptr;
    IUIAutomationCondition* pB = nullptr;
    IUIAutomationCondition* pBoth = nullptr;
    IUIAutomationElement* pOther = nullptr;
    IUIAutomationCondition* pUnused = nullptr;
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = UIA_GroupControlTypeId;
    RECT rc = {};
    BSTR bstr = nullptr;
    BOOL b = FALSE;
    POINT pt = {0, 0};

    struct Case {
        const char* pszName;
        std::function<HRESULT()> call;
        LONG nTag;
        LONG nSlot;
        bool bServed;
    };
    const Case cases[] = {
        {"ElementFromHandle",
         [&] {
             IUIAutomationElement* p = nullptr;
             HRESULT hr = pAutomation->ElementFromHandle(GetDesktopWindow(), &p);
             if (p)
                 p->Release();
             return hr;
         },
         simuia::kTagAutomation, 6, true},
        {"CompareElements", [&] { return pAutomation->CompareElements(pElement, pElement, &b); },
         simuia::kTagAutomation, 3, false},
        {"GetRootElement", [&] { return pAutomation->GetRootElement(&pOther); }, simuia::kTagAutomation, 5, false},
        {"ElementFromPoint", [&] { return pAutomation->ElementFromPoint(pt, &pOther); }, simuia::kTagAutomation, 7,
         false},
        {"CreateTreeWalker", [&] { return pAutomation->CreateTreeWalker(nullptr, nullptr); }, simuia::kTagAutomation,
         13, false},
        {"get_ContentViewCondition", [&] { return pAutomation->get_ContentViewCondition(&pUnused); },
         simuia::kTagAutomation, 19, false},
        {"CreateTrueCondition", [&] { return pAutomation->CreateTrueCondition(&pUnused); }, simuia::kTagAutomation, 21,
         false},
        {"CreatePropertyCondition",
         [&] { return pAutomation->CreatePropertyCondition(UIA_ControlTypePropertyId, v, &pA); },
         simuia::kTagAutomation, 23, true},
        {"CreatePropertyConditionEx",
         [&] {
             return pAutomation->CreatePropertyConditionEx(UIA_ControlTypePropertyId, v, PropertyConditionFlags_None,
                                                           &pUnused);
         },
         simuia::kTagAutomation, 24, false},
        {"CreatePropertyCondition (2)",
         [&] { return pAutomation->CreatePropertyCondition(UIA_ControlTypePropertyId, v, &pB); },
         simuia::kTagAutomation, 23, true},
        {"CreateAndCondition", [&] { return pAutomation->CreateAndCondition(pA, pB, &pBoth); }, simuia::kTagAutomation,
         25, true},
        {"SetFocus", [&] { return pElement->SetFocus(); }, simuia::kTagElement, 3, false},
        {"FindFirst", [&] { return pElement->FindFirst(TreeScope_Descendants, pBoth, &pOther); }, simuia::kTagElement,
         5, true},
        {"FindAll", [&] { return pElement->FindAll(TreeScope_Descendants, pBoth, nullptr); }, simuia::kTagElement, 6,
         false},
        {"GetCurrentPropertyValue",
         [&] { return pElement->GetCurrentPropertyValue(UIA_AutomationIdPropertyId, nullptr); }, simuia::kTagElement,
         10, false},
        {"GetCurrentPattern", [&] { return pElement->GetCurrentPattern(0, nullptr); }, simuia::kTagElement, 16, false},
        {"get_CurrentProcessId",
         [&] {
             int n = 0;
             return pElement->get_CurrentProcessId(&n);
         },
         simuia::kTagElement, 20, false},
        {"get_CurrentName", [&] { return pElement->get_CurrentName(&bstr); }, simuia::kTagElement, 23, false},
        {"get_CurrentAutomationId", [&] { return pElement->get_CurrentAutomationId(&bstr); }, simuia::kTagElement, 29,
         false},
        {"get_CurrentNativeWindowHandle",
         [&] {
             UIA_HWND h = nullptr;
             return pElement->get_CurrentNativeWindowHandle(&h);
         },
         simuia::kTagElement, 36, false},
        {"get_CurrentItemStatus", [&] { return pElement->get_CurrentItemStatus(&bstr); }, simuia::kTagElement, 42,
         false},
        {"get_CurrentBoundingRectangle", [&] { return pElement->get_CurrentBoundingRectangle(&rc); },
         simuia::kTagElement, 43, true},
    };
    for (const Case& c : cases) {
        const LONG nStubsBefore = m_driver.State().nStubHits;
        const HRESULT hr = c.call();
        EXPECT_EQ(c.nTag, m_driver.State().nLastTag) << c.pszName;
        EXPECT_EQ(c.nSlot, m_driver.State().nLastSlot) << c.pszName;
        if (c.bServed) {
            EXPECT_EQ(S_OK, hr) << c.pszName;
            EXPECT_EQ(nStubsBefore, m_driver.State().nStubHits) << c.pszName;
        } else {
            EXPECT_EQ(E_NOTIMPL, hr) << c.pszName;
        }
    }
    EXPECT_EQ(nullptr, pOther) << "no video player in this window";
    for (IUnknown* p : std::initializer_list<IUnknown*>{pA, pB, pBoth, pElement}) {
        if (p)
            p->Release();
    }
    EXPECT_EQ(0, m_driver.State().nLiveObjects);
}

TEST_F(UIAutomationClient, ClientIsCreatedOnceAndKept)
{
    IUIAutomation* pFirst = g_pAutomation;
    EXPECT_EQ(S_OK, CUIAutomation::GetInstance()->InitializeUIAutomation());
    EXPECT_EQ(pFirst, g_pAutomation.load());
    EXPECT_TRUE(glimtest::Contains(L"InitializeUIAutomation", L"CUIAutomation::InitializeUIAutomation"));
    EXPECT_FALSE(glimtest::Contains(L"g_pAutomation == NULL"));
}

TEST_F(UIAutomationClient, MoviePlayerCoveringThePrimaryMonitorCounts)
{
    const RECT& m = m_rcPrimary;
    EXPECT_EQ(1, Judge(m));
    EXPECT_EQ(TreeScope_Descendants, m_driver.State().nLastFindScope);
    EXPECT_EQ(1, Judge({m.left - 5, m.top - 5, m.right + 5, m.bottom + 5}));
    EXPECT_EQ(0, m_driver.State().nLiveObjects) << "the element, the conditions and the player are released";
}

TEST_F(UIAutomationClient, MoviePlayerOnePixelShortOnAnySideDoesNot)
{
    const RECT& m = m_rcPrimary;
    EXPECT_EQ(0, Judge({m.left + 1, m.top, m.right, m.bottom})) << "left";
    EXPECT_EQ(0, Judge({m.left, m.top + 1, m.right, m.bottom})) << "top";
    EXPECT_EQ(0, Judge({m.left, m.top, m.right - 1, m.bottom})) << "right";
    EXPECT_EQ(0, Judge({m.left, m.top, m.right, m.bottom - 1})) << "bottom";
    EXPECT_FALSE(glimtest::Contains(L"movie element not found"));
    EXPECT_EQ(0, m_driver.State().nLiveObjects);
}

TEST_F(UIAutomationClient, NoMoviePlayerIsLoggedAndCountsAsNot)
{
    m_driver.RemoveMovie();
    EXPECT_EQ(0, CUIAutomation::GetInstance()->IsWindowContainFullMovie(WindowElement()));
    EXPECT_EQ(1, m_driver.State().nFindFirstCalls);
    EXPECT_TRUE(glimtest::Contains(L"movie element not found", L"CUIAutomation::IsWindowContainFullMovie"));
    EXPECT_EQ(0, m_driver.State().nLiveObjects);
}

TEST_F(UIAutomationClient, UnreadableRectangleCountsAsNotWithoutALogLine)
{
    m_driver.FailRect(E_FAIL);
    EXPECT_EQ(0, Judge(m_rcPrimary));
    EXPECT_FALSE(glimtest::Contains(L"movie element not found"));
    EXPECT_EQ(0, m_driver.State().nLiveObjects);
}

TEST_F(UIAutomationClient, WithoutClientOrElementNothingIsSearched)
{
    EXPECT_EQ(0, CUIAutomation::GetInstance()->IsWindowContainFullMovie(nullptr));
    EXPECT_TRUE(glimtest::Contains(L"movie element not found"));

    IUIAutomationElement* pElement = WindowElement();
    IUIAutomation* pSaved = g_pAutomation;
    g_pAutomation = nullptr;
    m_driver.SetMovie(m_rcPrimary);
    EXPECT_EQ(0, CUIAutomation::GetInstance()->IsWindowContainFullMovie(pElement));
    g_pAutomation = pSaved;
    EXPECT_EQ(0, m_driver.State().nFindFirstCalls);
    EXPECT_EQ(0, m_driver.State().nLiveObjects) << "the handed-over element is released all the same";
}
