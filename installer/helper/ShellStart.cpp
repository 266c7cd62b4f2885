#include "ShellStart.h"

#include <oleauto.h>
#include <servprov.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shobjidl.h>

#include <cstdio>

#include "GlimLog.h"
#include "ScopedHandle.h"
#include "ShellProcess.h"

namespace glimsetup {

namespace {

constexpr DWORD kAgentPollMs = 100;

// Owner of one BSTR.
struct SBstrTraits {
    using Type = BSTR;
    static Type Invalid() { return nullptr; }
    static void Close(Type b) { SysFreeString(b); }
};
using CScopedBstr = glim::CScoped<SBstrTraits>;

// COM for this thread, balanced: S_FALSE (COM already there) counts once too.
class CComApartment {
public:
    CComApartment() : m_hr(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    virtual ~CComApartment()
    {
        if (SUCCEEDED(m_hr))
            CoUninitialize();
    }
    CComApartment(const CComApartment&) = delete;
    CComApartment& operator=(const CComApartment&) = delete;
    HRESULT Result() const { return m_hr; }

private:
    HRESULT m_hr;
};

std::wstring HresultText(HRESULT hr)
{
    wchar_t szText[16] = {};
    swprintf(szText, 16, L"0x%08lX", static_cast<unsigned long>(hr));
    return szText;
}

// A step's result: a success that handed nothing back is a failure too. The owner is read
// once the step has filled it.
template <typename T>
HRESULT Checked(HRESULT hr, const glim::CComRef<T>& out)
{
    return hr == S_OK && !out ? S_FALSE : hr;
}

DWORD SystemShellProcess()
{
    const HWND hShell = GetShellWindow();
    DWORD dwPid = 0;
    if (hShell && GetWindowThreadProcessId(hShell, &dwPid) && dwPid != 0)
        return dwPid;
    // A desktop without a registered shell window (Wine's): an explorer.exe of this session.
    DWORD dwSession = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &dwSession))
        return 0;
    return glim::FindExplorerProcessId(dwSession);
}

bool AwaitAgentWindow(const SAgentStartPlace& place)
{
    const ULONGLONG ullDeadline = GetTickCount64() + place.dwAgentStartMs;
    for (;;) {
        if (FindWindowW(nullptr, place.strAgentTitle.c_str()))
            return true;
        if (GetTickCount64() >= ullDeadline)
            return false;
        Sleep(kAgentPollMs);
    }
}

}  // namespace

SShellRoute SystemShellRoute()
{
    SShellRoute route;
    route.getShellWindow = [] { return GetShellWindow(); };
    route.findShellProcess = SystemShellProcess;
    // The running shell's object (a local server), never a new one in this process.
    route.createShellWindows = [](IShellWindows** ppWindows) {
        return CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                reinterpret_cast<void**>(ppWindows));
    };
    return route;
}

HRESULT ShellExecuteThroughShell(IShellWindows* pWindows, const std::wstring& strProgram, const std::wstring& strFolder,
                                 std::wstring* pstrStep)
{
    *pstrStep = L"IShellWindows::FindWindowSW";
    glim::CScopedVariant location;
    glim::CScopedVariant root;
    LONG lHwnd = 0;
    glim::CComRef<IDispatch> pDesktop;
    HRESULT hr = Checked(
        pWindows->FindWindowSW(location.Get(), root.Get(), SWC_DESKTOP, &lHwnd, SWFO_NEEDDISPATCH, pDesktop.Put()),
        pDesktop);
    if (hr != S_OK)
        return hr;
    *pstrStep = L"QueryInterface(IServiceProvider)";
    glim::CComRef<IServiceProvider> pProvider;
    hr = Checked(pDesktop->QueryInterface(IID_IServiceProvider, pProvider.PutVoid()), pProvider);
    if (hr != S_OK)
        return hr;
    *pstrStep = L"IServiceProvider::QueryService(IShellBrowser)";
    glim::CComRef<IShellBrowser> pBrowser;
    hr = Checked(pProvider->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, pBrowser.PutVoid()), pBrowser);
    if (hr != S_OK)
        return hr;
    *pstrStep = L"IShellBrowser::QueryActiveShellView";
    glim::CComRef<IShellView> pView;
    hr = Checked(pBrowser->QueryActiveShellView(pView.Put()), pView);
    if (hr != S_OK)
        return hr;
    *pstrStep = L"IShellView::GetItemObject";
    glim::CComRef<IDispatch> pBackground;
    hr = Checked(pView->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, pBackground.PutVoid()), pBackground);
    if (hr != S_OK)
        return hr;
    *pstrStep = L"QueryInterface(IShellFolderViewDual)";
    glim::CComRef<IShellFolderViewDual> pFolderView;
    hr = Checked(pBackground->QueryInterface(IID_IShellFolderViewDual, pFolderView.PutVoid()), pFolderView);
    if (hr != S_OK)
        return hr;
    *pstrStep = L"IShellFolderViewDual::get_Application";
    glim::CComRef<IDispatch> pApplication;
    hr = Checked(pFolderView->get_Application(pApplication.Put()), pApplication);
    if (hr != S_OK)
        return hr;
    *pstrStep = L"QueryInterface(IShellDispatch2)";
    glim::CComRef<IShellDispatch2> pShell;
    hr = Checked(pApplication->QueryInterface(IID_IShellDispatch2, pShell.PutVoid()), pShell);
    if (hr != S_OK)
        return hr;
    *pstrStep = L"IShellDispatch2::ShellExecute";
    const CScopedBstr bstrFile(SysAllocString(strProgram.c_str()));
    glim::CScopedVariant args;
    glim::CScopedVariant dir;
    glim::CScopedVariant operation;
    glim::CScopedVariant show;
    dir->vt = VT_BSTR;
    dir->bstrVal = SysAllocString(strFolder.c_str());
    operation->vt = VT_BSTR;
    operation->bstrVal = SysAllocString(L"open");
    show->vt = VT_I4;
    show->lVal = SW_SHOWNORMAL;
    if (!bstrFile || !dir->bstrVal || !operation->bstrVal)
        return E_OUTOFMEMORY;
    return pShell->ShellExecute(bstrFile.Get(), *args.Get(), *dir.Get(), *operation.Get(), *show.Get());
}

SVerbResult StartAgent(const SAgentStartPlace& place, const SShellRoute& route)
{
    CVerb verb;
    const HWND hShell = route.getShellWindow();
    if (!hShell && route.findShellProcess() == 0) {
        verb.Say(L"No user shell runs here: Glimagent starts at the next logon");
        return verb.Take();
    }
    // The calls into the shell cannot be bounded one by one: a shell whose desktop window does
    // not answer is not asked at all.
    DWORD_PTR dwResult = 0;
    if (hShell && !SendMessageTimeoutW(hShell, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, place.dwShellAnswerMs, &dwResult)) {
        verb.Fail(L"The user's shell did not answer within " + std::to_wstring(place.dwShellAnswerMs) +
                  L" ms, so Glimagent cannot be started.");
        return verb.Take();
    }
    verb.Say(L"Starting Glimagent for the installing user");
    std::wstring strStep = L"CoInitializeEx";
    HRESULT hr = S_OK;
    {
        const CComApartment apartment;
        hr = apartment.Result() == RPC_E_CHANGED_MODE ? S_OK : apartment.Result();
        if (SUCCEEDED(hr)) {
            strStep = L"CoCreateInstance(ShellWindows)";
            glim::CComRef<IShellWindows> pWindows;
            hr = Checked(route.createShellWindows(pWindows.Put()), pWindows);
            if (hr == S_OK)
                hr = ShellExecuteThroughShell(pWindows.Get(), place.strProgramDir + L"\\" + glim::kAgentProgramFile,
                                              place.strProgramDir, &strStep);
        }
    }
    if (hr != S_OK) {
        verb.Fail(L"Glimagent could not be started through the user's shell (" + strStep + L" failed, " +
                  HresultText(hr) + L").");
        return verb.Take();
    }
    if (!AwaitAgentWindow(place))
        verb.Fail(L"Glimagent did not come up within " + std::to_wstring(place.dwAgentStartMs) + L" ms.");
    return verb.Take();
}

}  // namespace glimsetup
