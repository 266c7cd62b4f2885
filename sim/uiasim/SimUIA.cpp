// GlimSimUIA.dll: a UI Automation client stand-in. Its vtables are built slot by slot from
// the documented order, independently of any client header, so a client calling through
// a wrong declaration reaches a recorded stub instead of the method it meant.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <new>

#include "RawVtable.h"
#include "StaticFactory.h"
#include "SimUIAProtocol.h"

using namespace simuia;

namespace {

// {FF48DBA4-60EF-4201-AA87-54103EEF594E}
const CLSID kClsidCUIAutomation = {0xff48dba4, 0x60ef, 0x4201, {0xaa, 0x87, 0x54, 0x10, 0x3e, 0xef, 0x59, 0x4e}};
// {30CBE57D-D9D0-452A-AB13-7AC5AC4825EE}
const IID kIidAutomation = {0x30cbe57d, 0xd9d0, 0x452a, {0xab, 0x13, 0x7a, 0xc5, 0xac, 0x48, 0x25, 0xee}};
// {D22108AA-8AC5-49A5-837B-37BBB3D7591E}
const IID kIidElement = {0xd22108aa, 0x8ac5, 0x49a5, {0x83, 0x7b, 0x37, 0xbb, 0xb3, 0xd7, 0x59, 0x1e}};
// {352FFBA8-0973-437C-A61F-F64CAFD81DF9}
const IID kIidCondition = {0x352ffba8, 0x0973, 0x437c, {0xa6, 0x1f, 0xf6, 0x4c, 0xaf, 0xd8, 0x1d, 0xf9}};

constexpr int kControlTypeProperty = 30003;
constexpr int kAutomationIdProperty = 30011;
constexpr int kGroupControlType = 50026;
constexpr int kTreeScopeDescendants = 4;

Shared* g_pShared = nullptr;
HANDLE g_hMapping = nullptr;
Shared g_fallback = {};

Shared* State()
{
    if (g_pShared)
        return g_pShared;
    g_hMapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(Shared), kMappingName);
    if (g_hMapping)
        g_pShared = static_cast<Shared*>(MapViewOfFile(g_hMapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(Shared)));
    return g_pShared ? g_pShared : &g_fallback;
}

void Hit(int nTag, int nSlot)
{
    State()->nLastTag = nTag;
    State()->nLastSlot = nSlot;
}

void StubHit(int nTag, int nSlot)
{
    Hit(nTag, nSlot);
    InterlockedIncrement(&State()->nStubHits);
}

enum class Kind { Automation, Element, Condition };

struct CObject : simcom::CRawObject {
    Kind m_kind;
    bool m_bMovie;    // element: the video player rather than the window
    int m_nProperty;  // condition: property id, or 0 for an AND
    VARIANT m_value;
    CObject* m_pA;  // AND operands
    CObject* m_pB;
};

simcom::CRawVtable<kTagAutomation, kAutomationSlots>* g_pAutomationVtbl = nullptr;
simcom::CRawVtable<kTagElement, kElementSlots>* g_pElementVtbl = nullptr;
simcom::CRawVtable<kTagCondition, kConditionSlots>* g_pConditionVtbl = nullptr;

CObject* NewObject(Kind kind)
{
    CObject* p = new (std::nothrow) CObject();
    if (!p)
        return nullptr;
    p->m_kind = kind;
    p->m_cRef = 1;
    VariantInit(&p->m_value);
    if (kind == Kind::Automation) {
        p->m_pVtbl = g_pAutomationVtbl->m_apSlots;
    } else {
        p->m_pVtbl = kind == Kind::Element ? g_pElementVtbl->m_apSlots : g_pConditionVtbl->m_apSlots;
        InterlockedIncrement(&State()->nLiveObjects);
    }
    return p;
}

ULONG STDMETHODCALLTYPE Obj_AddRef(CObject* p)
{
    return InterlockedIncrement(&p->m_cRef);
}

ULONG STDMETHODCALLTYPE Obj_Release(CObject* p)
{
    const LONG cRef = InterlockedDecrement(&p->m_cRef);
    if (cRef == 0) {
        if (p->m_kind != Kind::Automation)
            InterlockedDecrement(&State()->nLiveObjects);
        VariantClear(&p->m_value);
        if (p->m_pA)
            Obj_Release(p->m_pA);
        if (p->m_pB)
            Obj_Release(p->m_pB);
        delete p;
    }
    return cRef;
}

HRESULT STDMETHODCALLTYPE Obj_QueryInterface(CObject* p, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    const IID& own = p->m_kind == Kind::Automation ? kIidAutomation
        : p->m_kind == Kind::Element               ? kIidElement
                                                   : kIidCondition;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, own)) {
        Obj_AddRef(p);
        *ppv = p;
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

// IUIAutomation slot 6
HRESULT STDMETHODCALLTYPE Automation_ElementFromHandle(CObject*, void* hWnd, CObject** ppElement)
{
    Hit(kTagAutomation, 6);
    if (!ppElement)
        return E_POINTER;
    State()->llLastWindow = reinterpret_cast<LONGLONG>(hWnd);
    *ppElement = nullptr;
    if (State()->bNoElement || !hWnd)
        return State()->bNoElement ? S_OK : E_INVALIDARG;
    *ppElement = NewObject(Kind::Element);
    return *ppElement ? S_OK : E_OUTOFMEMORY;
}

// IUIAutomation slot 23
HRESULT STDMETHODCALLTYPE Automation_CreatePropertyCondition(CObject*, int nProperty, VARIANT value,
                                                             CObject** ppCondition)
{
    Hit(kTagAutomation, 23);
    if (!ppCondition)
        return E_POINTER;
    CObject* p = NewObject(Kind::Condition);
    if (!p)
        return E_OUTOFMEMORY;
    p->m_nProperty = nProperty;
    VariantCopy(&p->m_value, &value);
    *ppCondition = p;
    return S_OK;
}

// IUIAutomation slot 25
HRESULT STDMETHODCALLTYPE Automation_CreateAndCondition(CObject*, CObject* pA, CObject* pB, CObject** ppCondition)
{
    Hit(kTagAutomation, 25);
    if (!ppCondition || !pA || !pB)
        return E_POINTER;
    CObject* p = NewObject(Kind::Condition);
    if (!p)
        return E_OUTOFMEMORY;
    Obj_AddRef(pA);
    Obj_AddRef(pB);
    p->m_pA = pA;
    p->m_pB = pB;
    *ppCondition = p;
    return S_OK;
}

// Whether the video player element satisfies the condition.
bool MovieMatches(const CObject* pCondition)
{
    if (!pCondition)
        return false;
    if (pCondition->m_pA || pCondition->m_pB)
        return MovieMatches(pCondition->m_pA) && MovieMatches(pCondition->m_pB);
    const VARIANT& v = pCondition->m_value;
    if (pCondition->m_nProperty == kControlTypeProperty)
        return v.vt == VT_I4 && v.lVal == kGroupControlType;
    if (pCondition->m_nProperty == kAutomationIdProperty)
        return v.vt == VT_BSTR && v.bstrVal && lstrcmpW(v.bstrVal, L"movie_player") == 0;
    return false;
}

// IUIAutomationElement slot 5
HRESULT STDMETHODCALLTYPE Element_FindFirst(CObject* pElement, int nScope, CObject* pCondition, CObject** ppFound)
{
    Hit(kTagElement, 5);
    if (!ppFound)
        return E_POINTER;
    *ppFound = nullptr;
    State()->nLastFindScope = nScope;
    InterlockedIncrement(&State()->nFindFirstCalls);
    if (!pCondition)
        return E_INVALIDARG;
    if (!pElement->m_bMovie && State()->bHasMovie && (nScope & kTreeScopeDescendants) && MovieMatches(pCondition)) {
        CObject* pMovie = NewObject(Kind::Element);
        if (!pMovie)
            return E_OUTOFMEMORY;
        pMovie->m_bMovie = true;
        *ppFound = pMovie;
    }
    return S_OK;
}

// IUIAutomationElement slot 43
HRESULT STDMETHODCALLTYPE Element_GetCurrentBoundingRectangle(CObject* pElement, RECT* pRect)
{
    Hit(kTagElement, 43);
    if (!pRect)
        return E_POINTER;
    if (State()->hrRectError)
        return State()->hrRectError;
    if (pElement->m_bMovie) {
        *pRect = State()->rcMovie;
    } else {
        RECT rc = {};
        GetWindowRect(reinterpret_cast<HWND>(State()->llLastWindow), &rc);
        *pRect = rc;
    }
    return S_OK;
}

void BuildVtables()
{
    simcom::SlotHitHook() = StubHit;
    g_pAutomationVtbl = new simcom::CRawVtable<kTagAutomation, kAutomationSlots>();
    g_pElementVtbl = new simcom::CRawVtable<kTagElement, kElementSlots>();
    g_pConditionVtbl = new simcom::CRawVtable<kTagCondition, kConditionSlots>();
    g_pAutomationVtbl->Set(0, &Obj_QueryInterface);
    g_pAutomationVtbl->Set(1, &Obj_AddRef);
    g_pAutomationVtbl->Set(2, &Obj_Release);
    g_pAutomationVtbl->Set(6, &Automation_ElementFromHandle);
    g_pAutomationVtbl->Set(23, &Automation_CreatePropertyCondition);
    g_pAutomationVtbl->Set(25, &Automation_CreateAndCondition);
    g_pElementVtbl->Set(0, &Obj_QueryInterface);
    g_pElementVtbl->Set(1, &Obj_AddRef);
    g_pElementVtbl->Set(2, &Obj_Release);
    g_pElementVtbl->Set(5, &Element_FindFirst);
    g_pElementVtbl->Set(43, &Element_GetCurrentBoundingRectangle);
    g_pConditionVtbl->Set(0, &Obj_QueryInterface);
    g_pConditionVtbl->Set(1, &Obj_AddRef);
    g_pConditionVtbl->Set(2, &Obj_Release);
}

IUnknown* CreateAutomation()
{
    return reinterpret_cast<IUnknown*>(NewObject(Kind::Automation));
}

simcom::CStaticFactory g_factory(CreateAutomation);

}  // namespace

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv)
{
    if (IsEqualCLSID(rclsid, kClsidCUIAutomation))
        return g_factory.QueryInterface(riid, ppv);
    if (ppv)
        *ppv = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT WINAPI DllCanUnloadNow()
{
    return S_FALSE;
}

BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, void*)
{
    if (dwReason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(hInstance);
        BuildVtables();
    }
    return TRUE;
}
