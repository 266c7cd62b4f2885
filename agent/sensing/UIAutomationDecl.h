// The part of the UI Automation client API that the agent uses. A Windows SDK build takes
// the SDK's own uiautomation.h; mingw-w64 lacks the client interfaces (and its
// uiautomation.h does not compile as C++), so they are declared here with every vtable
// slot, in the documented order, up to the last one the agent calls.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#if defined(_MSC_VER) && !defined(__MINGW32__)

#include <uiautomation.h>

#else

typedef int PROPERTYID;
typedef int PATTERNID;
typedef int CONTROLTYPEID;
typedef void* UIA_HWND;

typedef enum TreeScope {
    TreeScope_None = 0,
    TreeScope_Element = 0x1,
    TreeScope_Children = 0x2,
    TreeScope_Descendants = 0x4,
    TreeScope_Parent = 0x8,
    TreeScope_Ancestors = 0x10,
    TreeScope_Subtree = TreeScope_Element | TreeScope_Children | TreeScope_Descendants
} TreeScope;

typedef enum PropertyConditionFlags {
    PropertyConditionFlags_None = 0,
    PropertyConditionFlags_IgnoreCase = 1
} PropertyConditionFlags;

typedef enum OrientationType {
    OrientationType_None = 0,
    OrientationType_Horizontal = 1,
    OrientationType_Vertical = 2
} OrientationType;

constexpr PROPERTYID UIA_ControlTypePropertyId = 30003;
constexpr PROPERTYID UIA_AutomationIdPropertyId = 30011;
constexpr CONTROLTYPEID UIA_GroupControlTypeId = 50026;

struct IUIAutomationCacheRequest;
struct IUIAutomationTreeWalker;
struct IUIAutomationElementArray;

// {352FFBA8-0973-437C-A61F-F64CAFD81DF9}; no methods of its own.
struct IUIAutomationCondition : public IUnknown {};

// {D22108AA-8AC5-49A5-837B-37BBB3D7591E}
struct IUIAutomationElement : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetFocus() = 0;                             // 3
    virtual HRESULT STDMETHODCALLTYPE GetRuntimeId(SAFEARRAY** ppRuntimeId) = 0;  // 4
    virtual HRESULT STDMETHODCALLTYPE FindFirst(TreeScope scope, IUIAutomationCondition* pCondition,
                                                IUIAutomationElement** ppFound) = 0;  // 5
    virtual HRESULT STDMETHODCALLTYPE FindAll(TreeScope scope, IUIAutomationCondition* pCondition,
                                              IUIAutomationElementArray** ppFound) = 0;  // 6
    virtual HRESULT STDMETHODCALLTYPE FindFirstBuildCache(TreeScope scope, IUIAutomationCondition* pCondition,
                                                          IUIAutomationCacheRequest* pCacheRequest,
                                                          IUIAutomationElement** ppFound) = 0;  // 7
    virtual HRESULT STDMETHODCALLTYPE FindAllBuildCache(TreeScope scope, IUIAutomationCondition* pCondition,
                                                        IUIAutomationCacheRequest* pCacheRequest,
                                                        IUIAutomationElementArray** ppFound) = 0;  // 8
    virtual HRESULT STDMETHODCALLTYPE BuildUpdatedCache(IUIAutomationCacheRequest* pCacheRequest,
                                                        IUIAutomationElement** ppUpdated) = 0;      // 9
    virtual HRESULT STDMETHODCALLTYPE GetCurrentPropertyValue(PROPERTYID id, VARIANT* pValue) = 0;  // 10
    virtual HRESULT STDMETHODCALLTYPE GetCurrentPropertyValueEx(PROPERTYID id, BOOL bIgnoreDefault,
                                                                VARIANT* pValue) = 0;              // 11
    virtual HRESULT STDMETHODCALLTYPE GetCachedPropertyValue(PROPERTYID id, VARIANT* pValue) = 0;  // 12
    virtual HRESULT STDMETHODCALLTYPE GetCachedPropertyValueEx(PROPERTYID id, BOOL bIgnoreDefault,
                                                               VARIANT* pValue) = 0;                   // 13
    virtual HRESULT STDMETHODCALLTYPE GetCurrentPatternAs(PATTERNID id, REFIID riid, void** ppv) = 0;  // 14
    virtual HRESULT STDMETHODCALLTYPE GetCachedPatternAs(PATTERNID id, REFIID riid, void** ppv) = 0;   // 15
    virtual HRESULT STDMETHODCALLTYPE GetCurrentPattern(PATTERNID id, IUnknown** ppPattern) = 0;       // 16
    virtual HRESULT STDMETHODCALLTYPE GetCachedPattern(PATTERNID id, IUnknown** ppPattern) = 0;        // 17
    virtual HRESULT STDMETHODCALLTYPE GetCachedParent(IUIAutomationElement** ppParent) = 0;            // 18
    virtual HRESULT STDMETHODCALLTYPE GetCachedChildren(IUIAutomationElementArray** ppChildren) = 0;   // 19
    virtual HRESULT STDMETHODCALLTYPE get_CurrentProcessId(int* pValue) = 0;                           // 20
    virtual HRESULT STDMETHODCALLTYPE get_CurrentControlType(CONTROLTYPEID* pValue) = 0;               // 21
    virtual HRESULT STDMETHODCALLTYPE get_CurrentLocalizedControlType(BSTR* pValue) = 0;               // 22
    virtual HRESULT STDMETHODCALLTYPE get_CurrentName(BSTR* pValue) = 0;                               // 23
    virtual HRESULT STDMETHODCALLTYPE get_CurrentAcceleratorKey(BSTR* pValue) = 0;                     // 24
    virtual HRESULT STDMETHODCALLTYPE get_CurrentAccessKey(BSTR* pValue) = 0;                          // 25
    virtual HRESULT STDMETHODCALLTYPE get_CurrentHasKeyboardFocus(BOOL* pValue) = 0;                   // 26
    virtual HRESULT STDMETHODCALLTYPE get_CurrentIsKeyboardFocusable(BOOL* pValue) = 0;                // 27
    virtual HRESULT STDMETHODCALLTYPE get_CurrentIsEnabled(BOOL* pValue) = 0;                          // 28
    virtual HRESULT STDMETHODCALLTYPE get_CurrentAutomationId(BSTR* pValue) = 0;                       // 29
    virtual HRESULT STDMETHODCALLTYPE get_CurrentClassName(BSTR* pValue) = 0;                          // 30
    virtual HRESULT STDMETHODCALLTYPE get_CurrentHelpText(BSTR* pValue) = 0;                           // 31
    virtual HRESULT STDMETHODCALLTYPE get_CurrentCulture(int* pValue) = 0;                             // 32
    virtual HRESULT STDMETHODCALLTYPE get_CurrentIsControlElement(BOOL* pValue) = 0;                   // 33
    virtual HRESULT STDMETHODCALLTYPE get_CurrentIsContentElement(BOOL* pValue) = 0;                   // 34
    virtual HRESULT STDMETHODCALLTYPE get_CurrentIsPassword(BOOL* pValue) = 0;                         // 35
    virtual HRESULT STDMETHODCALLTYPE get_CurrentNativeWindowHandle(UIA_HWND* pValue) = 0;             // 36
    virtual HRESULT STDMETHODCALLTYPE get_CurrentItemType(BSTR* pValue) = 0;                           // 37
    virtual HRESULT STDMETHODCALLTYPE get_CurrentIsOffscreen(BOOL* pValue) = 0;                        // 38
    virtual HRESULT STDMETHODCALLTYPE get_CurrentOrientation(OrientationType* pValue) = 0;             // 39
    virtual HRESULT STDMETHODCALLTYPE get_CurrentFrameworkId(BSTR* pValue) = 0;                        // 40
    virtual HRESULT STDMETHODCALLTYPE get_CurrentIsRequiredForForm(BOOL* pValue) = 0;                  // 41
    virtual HRESULT STDMETHODCALLTYPE get_CurrentItemStatus(BSTR* pValue) = 0;                         // 42
    virtual HRESULT STDMETHODCALLTYPE get_CurrentBoundingRectangle(RECT* pValue) = 0;                  // 43
};

// {30CBE57D-D9D0-452A-AB13-7AC5AC4825EE}
struct IUIAutomation : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CompareElements(IUIAutomationElement* pA, IUIAutomationElement* pB,
                                                      BOOL* pbSame) = 0;                                       // 3
    virtual HRESULT STDMETHODCALLTYPE CompareRuntimeIds(SAFEARRAY* pA, SAFEARRAY* pB, BOOL* pbSame) = 0;       // 4
    virtual HRESULT STDMETHODCALLTYPE GetRootElement(IUIAutomationElement** ppRoot) = 0;                       // 5
    virtual HRESULT STDMETHODCALLTYPE ElementFromHandle(UIA_HWND hwnd, IUIAutomationElement** ppElement) = 0;  // 6
    virtual HRESULT STDMETHODCALLTYPE ElementFromPoint(POINT pt, IUIAutomationElement** ppElement) = 0;        // 7
    virtual HRESULT STDMETHODCALLTYPE GetFocusedElement(IUIAutomationElement** ppElement) = 0;                 // 8
    virtual HRESULT STDMETHODCALLTYPE GetRootElementBuildCache(IUIAutomationCacheRequest* pCacheRequest,
                                                               IUIAutomationElement** ppRoot) = 0;  // 9
    virtual HRESULT STDMETHODCALLTYPE ElementFromHandleBuildCache(UIA_HWND hwnd,
                                                                  IUIAutomationCacheRequest* pCacheRequest,
                                                                  IUIAutomationElement** ppElement) = 0;  // 10
    virtual HRESULT STDMETHODCALLTYPE ElementFromPointBuildCache(POINT pt, IUIAutomationCacheRequest* pCacheRequest,
                                                                 IUIAutomationElement** ppElement) = 0;  // 11
    virtual HRESULT STDMETHODCALLTYPE GetFocusedElementBuildCache(IUIAutomationCacheRequest* pCacheRequest,
                                                                  IUIAutomationElement** ppElement) = 0;  // 12
    virtual HRESULT STDMETHODCALLTYPE CreateTreeWalker(IUIAutomationCondition* pCondition,
                                                       IUIAutomationTreeWalker** ppWalker) = 0;            // 13
    virtual HRESULT STDMETHODCALLTYPE get_ControlViewWalker(IUIAutomationTreeWalker** ppWalker) = 0;       // 14
    virtual HRESULT STDMETHODCALLTYPE get_ContentViewWalker(IUIAutomationTreeWalker** ppWalker) = 0;       // 15
    virtual HRESULT STDMETHODCALLTYPE get_RawViewWalker(IUIAutomationTreeWalker** ppWalker) = 0;           // 16
    virtual HRESULT STDMETHODCALLTYPE get_RawViewCondition(IUIAutomationCondition** ppCondition) = 0;      // 17
    virtual HRESULT STDMETHODCALLTYPE get_ControlViewCondition(IUIAutomationCondition** ppCondition) = 0;  // 18
    virtual HRESULT STDMETHODCALLTYPE get_ContentViewCondition(IUIAutomationCondition** ppCondition) = 0;  // 19
    virtual HRESULT STDMETHODCALLTYPE CreateCacheRequest(IUIAutomationCacheRequest** ppCacheRequest) = 0;  // 20
    virtual HRESULT STDMETHODCALLTYPE CreateTrueCondition(IUIAutomationCondition** ppCondition) = 0;       // 21
    virtual HRESULT STDMETHODCALLTYPE CreateFalseCondition(IUIAutomationCondition** ppCondition) = 0;      // 22
    virtual HRESULT STDMETHODCALLTYPE CreatePropertyCondition(PROPERTYID id, VARIANT value,
                                                              IUIAutomationCondition** ppCondition) = 0;  // 23
    virtual HRESULT STDMETHODCALLTYPE CreatePropertyConditionEx(PROPERTYID id, VARIANT value,
                                                                PropertyConditionFlags flags,
                                                                IUIAutomationCondition** ppCondition) = 0;  // 24
    virtual HRESULT STDMETHODCALLTYPE CreateAndCondition(IUIAutomationCondition* pA, IUIAutomationCondition* pB,
                                                         IUIAutomationCondition** ppCondition) = 0;  // 25
};

#endif

// Defined once here (no uuid library carries them for mingw-w64); the SDK build gets the
// same values from uiautomation.h's import library under these names.
namespace glim {
// {FF48DBA4-60EF-4201-AA87-54103EEF594E}
constexpr CLSID kCLSID_CUIAutomation = {0xff48dba4, 0x60ef, 0x4201, {0xaa, 0x87, 0x54, 0x10, 0x3e, 0xef, 0x59, 0x4e}};
// {30CBE57D-D9D0-452A-AB13-7AC5AC4825EE}
constexpr IID kIID_IUIAutomation = {0x30cbe57d, 0xd9d0, 0x452a, {0xab, 0x13, 0x7a, 0xc5, 0xac, 0x48, 0x25, 0xee}};
// {D22108AA-8AC5-49A5-837B-37BBB3D7591E}
constexpr IID kIID_IUIAutomationElement = {
    0xd22108aa, 0x8ac5, 0x49a5, {0x83, 0x7b, 0x37, 0xbb, 0xb3, 0xd7, 0x59, 0x1e}};
// {352FFBA8-0973-437C-A61F-F64CAFD81DF9}
constexpr IID kIID_IUIAutomationCondition = {
    0x352ffba8, 0x0973, 0x437c, {0xa6, 0x1f, 0xf6, 0x4c, 0xaf, 0xd8, 0x1d, 0xf9}};
}  // namespace glim
