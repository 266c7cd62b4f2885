// The agent's start through the user's shell, in-process: no shell, a shell window that does
// not answer, every step of the COM chain failing or handing back nothing, and success, on a
// chain of the test's own objects (the SDK's interfaces, implemented here) injected in place of
// the running shell's; and what Wine's own shell answers.
#include <windows.h>
#include <exdisp.h>
#include <servprov.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shobjidl.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "ChildProcess.h"
#include "Programs.h"
#include "ScopedHandle.h"
#include "SetupHelperTest.h"
#include "ShellStart.h"
#include "TempFolder.h"
#include "Wait.h"

using namespace glimsetup;

namespace {

// The chain's steps, in order.
enum Step {
    kCreate,
    kFindWindow,
    kQueryProvider,
    kQueryService,
    kActiveView,
    kItemObject,
    kQueryFolderView,
    kGetApplication,
    kQueryShellDispatch,
    kExecute,
    kStepCount
};

const wchar_t* const kStepNames[kStepCount] = {
    L"CoCreateInstance(ShellWindows)",       L"IShellWindows::FindWindowSW",
    L"QueryInterface(IServiceProvider)",     L"IServiceProvider::QueryService(IShellBrowser)",
    L"IShellBrowser::QueryActiveShellView",  L"IShellView::GetItemObject",
    L"QueryInterface(IShellFolderViewDual)", L"IShellFolderViewDual::get_Application",
    L"QueryInterface(IShellDispatch2)",      L"IShellDispatch2::ShellExecute",
};

// What the fake shell answers and what it was given. Every reference any of its objects hands
// out is counted, so a leak or an extra release shows.
struct SShellScript {
    Step failing = kStepCount;  // the step that fails (kStepCount: none)
    HRESULT hrFailure = E_FAIL;
    bool bGivesNothing = false;  // the failing step answers S_OK (S_FALSE for FindWindowSW) without an object
    LONG lRefs = 0;
    int nExecutes = 0;
    std::wstring strFile;
    std::wstring strDir;
    std::wstring strOperation;
    VARTYPE vtArgs = VT_ILLEGAL;
    LONG lShow = -1;
    std::wstring strAgentTitle;  // ShellExecute shows a window of this title when not empty
    HWND hAgent = nullptr;

    // The answer of a step that asks for the right thing; E_INVALIDARG otherwise.
    template <typename T>
    HRESULT AnswerIf(bool bRightlyAsked, Step step, T* p, void** ppv)
    {
        if (!bRightlyAsked) {
            *ppv = nullptr;
            return E_INVALIDARG;
        }
        return Answer(step, p, reinterpret_cast<T**>(ppv));
    }

    // The answer of a step that hands back p.
    template <typename T>
    HRESULT Answer(Step step, T* p, T** pp)
    {
        *pp = nullptr;
        if (step == failing) {
            if (bGivesNothing)
                return step == kFindWindow ? S_FALSE : S_OK;
            return hrFailure;
        }
        p->AddRef();
        *pp = p;
        return S_OK;
    }
};

// IUnknown over the script's count; QueryInterface gives this object for its own interface and
// the next object of the chain for the one step that asks for it.
template <typename I>
class CFake : public I {
public:
    CFake(SShellScript* pScript, const IID& iidOwn) : m_pScript(pScript), m_iidOwn(iidOwn) {}
    virtual ~CFake() = default;

    template <typename T>
    void Hop(const IID& iid, Step step, T* pNext)
    {
        m_iidHop = iid;
        m_stepHop = step;
        m_pHop = pNext;
        m_pfnAnswer = [](SShellScript* pScript, Step stepHop, void* p, void** ppv) {
            return pScript->Answer(stepHop, static_cast<T*>(p), reinterpret_cast<T**>(ppv));
        };
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, m_iidOwn)) {
            this->AddRef();
            *ppv = this;
            return S_OK;
        }
        if (m_pHop && IsEqualIID(riid, m_iidHop))
            return m_pfnAnswer(m_pScript, m_stepHop, m_pHop, ppv);
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++m_pScript->lRefs); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--m_pScript->lRefs); }

protected:
    SShellScript* m_pScript;

private:
    IID m_iidOwn;
    IID m_iidHop = IID_NULL;
    Step m_stepHop = kStepCount;
    void* m_pHop = nullptr;
    HRESULT (*m_pfnAnswer)(SShellScript*, Step, void*, void**) = nullptr;
};

template <typename I>
class CFakeDispatch : public CFake<I> {
public:
    using CFake<I>::CFake;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }
};

template <typename I>
class CFakeOleWindow : public CFake<I> {
public:
    using CFake<I>::CFake;
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* phwnd) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL fEnterMode) override { return E_NOTIMPL; }
};

class CFakeShell : public CFakeDispatch<IShellDispatch2> {
public:
    explicit CFakeShell(SShellScript* p) : CFakeDispatch(p, IID_IShellDispatch2) {}
    HRESULT STDMETHODCALLTYPE ShellExecute(BSTR File, VARIANT vArgs, VARIANT vDir, VARIANT vOperation,
                                           VARIANT vShow) override
    {
        ++m_pScript->nExecutes;
        m_pScript->strFile = File ? File : L"";
        m_pScript->vtArgs = vArgs.vt;
        m_pScript->strDir = vDir.vt == VT_BSTR && vDir.bstrVal ? vDir.bstrVal : L"";
        m_pScript->strOperation = vOperation.vt == VT_BSTR && vOperation.bstrVal ? vOperation.bstrVal : L"";
        m_pScript->lShow = vShow.vt == VT_I4 ? vShow.lVal : -1;
        if (m_pScript->failing == kExecute)
            return m_pScript->hrFailure;
        if (!m_pScript->strAgentTitle.empty())
            m_pScript->hAgent = CreateWindowExW(0, L"STATIC", m_pScript->strAgentTitle.c_str(), WS_POPUP, 0, 0, 1, 1,
                                                nullptr, nullptr, nullptr, nullptr);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Application(IDispatch** ppid) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Parent(IDispatch** ppid) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE NameSpace(VARIANT vDir, Folder** ppsdf) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BrowseForFolder(LONG Hwnd, BSTR Title, LONG Options, VARIANT RootFolder,
                                              Folder** ppsdf) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Windows(IDispatch** ppid) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Open(VARIANT vDir) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Explore(VARIANT vDir) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE MinimizeAll() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UndoMinimizeALL() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FileRun() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CascadeWindows() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE TileVertically() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE TileHorizontally() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ShutdownWindows() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Suspend() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EjectPC() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetTime() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE TrayProperties() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Help() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FindFiles() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FindComputer() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RefreshMenu() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ControlPanelItem(BSTR bstrDir) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsRestricted(BSTR Group, BSTR Restriction, LONG* plRestrictValue) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE FindPrinter(BSTR name, BSTR location, BSTR model) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSystemInformation(BSTR name, VARIANT* pv) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ServiceStart(BSTR ServiceName, VARIANT Persistent, VARIANT* pSuccess) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ServiceStop(BSTR ServiceName, VARIANT Persistent, VARIANT* pSuccess) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE IsServiceRunning(BSTR ServiceName, VARIANT* pRunning) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CanStartStopService(BSTR ServiceName, VARIANT* pCanStartStop) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ShowBrowserBar(BSTR bstrClsid, VARIANT bShow, VARIANT* pSuccess) override
    {
        return E_NOTIMPL;
    }
};

class CFakeFolderView : public CFakeDispatch<IShellFolderViewDual> {
public:
    CFakeFolderView(SShellScript* p, IDispatch* pApplication)
        : CFakeDispatch(p, IID_IShellFolderViewDual)
        , m_pApplication(pApplication)
    {
    }
    HRESULT STDMETHODCALLTYPE get_Application(IDispatch** ppid) override
    {
        return m_pScript->Answer(kGetApplication, m_pApplication, ppid);
    }
    HRESULT STDMETHODCALLTYPE get_Parent(IDispatch** ppid) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Folder(Folder** ppid) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SelectedItems(FolderItems** ppid) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_FocusedItem(FolderItem** ppid) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SelectItem(VARIANT* pvfi, int dwFlags) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE PopupItemMenu(FolderItem* pfi, VARIANT vx, VARIANT vy, BSTR* pbs) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_Script(IDispatch** ppDisp) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_ViewOptions(LONG* plViewOptions) override { return E_NOTIMPL; }

private:
    IDispatch* m_pApplication;
};

class CFakeView : public CFakeOleWindow<IShellView> {
public:
    CFakeView(SShellScript* p, IDispatch* pBackground) : CFakeOleWindow(p, IID_IShellView), m_pBackground(pBackground)
    {
    }
    HRESULT STDMETHODCALLTYPE GetItemObject(UINT uItem, REFIID riid, void** ppv) override
    {
        return m_pScript->AnswerIf(uItem == SVGIO_BACKGROUND && IsEqualIID(riid, IID_IDispatch), kItemObject,
                                   m_pBackground, ppv);
    }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG* pmsg) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL fEnable) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UIActivate(UINT uState) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Refresh() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateViewWindow(IShellView* psvPrevious, LPCFOLDERSETTINGS pfs, IShellBrowser* psb,
                                               RECT* prcView, HWND* phWnd) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DestroyViewWindow() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentInfo(LPFOLDERSETTINGS pfs) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AddPropertySheetPages(DWORD dwReserved, LPFNSVADDPROPSHEETPAGE pfn,
                                                    LPARAM lparam) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SaveViewState() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SelectItem(PCUITEMID_CHILD pidlItem, SVSIF uFlags) override { return E_NOTIMPL; }

private:
    IDispatch* m_pBackground;
};

class CFakeBrowser : public CFakeOleWindow<IShellBrowser> {
public:
    CFakeBrowser(SShellScript* p, IShellView* pView) : CFakeOleWindow(p, IID_IShellBrowser), m_pView(pView) {}
    HRESULT STDMETHODCALLTYPE QueryActiveShellView(IShellView** ppshv) override
    {
        return m_pScript->Answer(kActiveView, m_pView, ppshv);
    }
    HRESULT STDMETHODCALLTYPE InsertMenusSB(HMENU hmenuShared, LPOLEMENUGROUPWIDTHS lpMenuWidths) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetMenuSB(HMENU hmenuShared, HOLEMENU holemenuRes, HWND hwndActiveObject) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE RemoveMenusSB(HMENU hmenuShared) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetStatusTextSB(LPCWSTR pszStatusText) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnableModelessSB(BOOL fEnable) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE TranslateAcceleratorSB(MSG* pmsg, WORD wID) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BrowseObject(PCUIDLIST_RELATIVE pidl, UINT wFlags) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetViewStateStream(DWORD grfMode, IStream** ppStrm) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetControlWindow(UINT id, HWND* phwnd) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SendControlMsg(UINT id, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT* pret) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE OnViewWindowActive(IShellView* pshv) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetToolbarItems(LPTBBUTTONSB lpButtons, UINT nButtons, UINT uFlags) override
    {
        return E_NOTIMPL;
    }

private:
    IShellView* m_pView;
};

class CFakeProvider : public CFake<IServiceProvider> {
public:
    CFakeProvider(SShellScript* p, IShellBrowser* pBrowser) : CFake(p, IID_IServiceProvider), m_pBrowser(pBrowser) {}
    HRESULT STDMETHODCALLTYPE QueryService(REFGUID guidService, REFIID riid, void** ppv) override
    {
        return m_pScript->AnswerIf(IsEqualGUID(guidService, SID_STopLevelBrowser) &&
                                       IsEqualIID(riid, IID_IShellBrowser),
                                   kQueryService, m_pBrowser, ppv);
    }

private:
    IShellBrowser* m_pBrowser;
};

class CFakeWindows : public CFakeDispatch<IShellWindows> {
public:
    CFakeWindows(SShellScript* p, IDispatch* pDesktop) : CFakeDispatch(p, IID_IShellWindows), m_pDesktop(pDesktop) {}
    HRESULT STDMETHODCALLTYPE FindWindowSW(VARIANT* pvarLoc, VARIANT* pvarLocRoot, int swClass, LONG* phwnd,
                                           int swfwOptions, IDispatch** ppdispOut) override
    {
        *phwnd = 0;
        if (!pvarLoc || !pvarLocRoot || swClass != SWC_DESKTOP || (swfwOptions & SWFO_NEEDDISPATCH) == 0) {
            *ppdispOut = nullptr;
            return E_INVALIDARG;
        }
        return m_pScript->Answer(kFindWindow, m_pDesktop, ppdispOut);
    }
    HRESULT STDMETHODCALLTYPE get_Count(LONG* Count) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Item(VARIANT index, IDispatch** Folder) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE _NewEnum(IUnknown** ppunk) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Register(IDispatch* pid, LONG hWnd, int swClass, LONG* plCookie) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE RegisterPending(LONG lThreadId, VARIANT* pvarloc, VARIANT* pvarlocRoot, int swClass,
                                              LONG* plCookie) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Revoke(LONG lCookie) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnNavigate(LONG lCookie, VARIANT* pvarLoc) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnActivated(LONG lCookie, VARIANT_BOOL fActive) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnCreated(LONG lCookie, IUnknown* punk) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ProcessAttachDetach(VARIANT_BOOL fAttach) override { return E_NOTIMPL; }

private:
    IDispatch* m_pDesktop;
};

// The whole chain, each object once, linked as the shell links them.
class CFakeChain {
public:
    explicit CFakeChain(SShellScript* p)
        : m_shell(p)
        , m_application(p, IID_IDispatch)
        , m_folderView(p, &m_application)
        , m_background(p, IID_IDispatch)
        , m_view(p, &m_background)
        , m_browser(p, &m_view)
        , m_provider(p, &m_browser)
        , m_desktop(p, IID_IDispatch)
        , m_windows(p, &m_desktop)
        , m_pScript(p)
    {
        m_application.Hop(IID_IShellDispatch2, kQueryShellDispatch, static_cast<IShellDispatch2*>(&m_shell));
        m_background.Hop(IID_IShellFolderViewDual, kQueryFolderView, static_cast<IShellFolderViewDual*>(&m_folderView));
        m_desktop.Hop(IID_IServiceProvider, kQueryProvider, static_cast<IServiceProvider*>(&m_provider));
    }
    SShellRoute Route(HWND hShell)
    {
        SShellRoute route;
        route.getShellWindow = [hShell] { return hShell; };
        route.findShellProcess = [] { return GetCurrentProcessId(); };
        route.createShellWindows = [this](IShellWindows** pp) {
            return m_pScript->Answer(kCreate, static_cast<IShellWindows*>(&m_windows), pp);
        };
        return route;
    }

private:
    CFakeShell m_shell;
    CFakeDispatch<IDispatch> m_application;
    CFakeFolderView m_folderView;
    CFakeDispatch<IDispatch> m_background;
    CFakeView m_view;
    CFakeBrowser m_browser;
    CFakeProvider m_provider;
    CFakeDispatch<IDispatch> m_desktop;
    CFakeWindows m_windows;
    SShellScript* m_pScript;
};

DWORD ParentOf(DWORD dwPid)
{
    glim::CScopedFile hSnapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL bMore = hSnapshot && Process32FirstW(hSnapshot.Get(), &entry); bMore;
         bMore = Process32NextW(hSnapshot.Get(), &entry)) {
        if (entry.th32ProcessID == dwPid)
            return entry.th32ParentProcessID;
    }
    return 0;
}

SAgentStartPlace TestPlace()
{
    SAgentStartPlace place;
    place.strProgramDir = L"C:\\Program Files (x86)\\Vessik\\Glimkit";
    place.strAgentTitle = L"GlimSetupShellTest " + std::to_wstring(GetCurrentProcessId());
    place.dwShellAnswerMs = 500;
    place.dwAgentStartMs = 500;
    return place;
}

struct SWindowTraits {
    using Type = HWND;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { DestroyWindow(h); }
};
using CScopedWindow = glim::CScoped<SWindowTraits>;

TEST(SetupHelperStartAgent, EveryStepOfTheShellRouteIsCheckedAndNamed)
{
    // A shell window of this thread answers WM_NULL at once.
    CScopedWindow hShell(
        CreateWindowExW(0, L"STATIC", L"shell", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(hShell);
    struct SCase {
        Step failing;
        bool bGivesNothing;
        bool bAgentShows;
    };
    std::vector<SCase> cases;
    for (int i = 0; i < kStepCount; ++i) {
        cases.push_back({static_cast<Step>(i), false, true});
        if (i != kExecute)
            cases.push_back({static_cast<Step>(i), true, true});
    }
    cases.push_back({kStepCount, false, true});
    cases.push_back({kStepCount, false, false});
    for (const SCase& c : cases) {
        const SAgentStartPlace place = TestPlace();
        SShellScript script;
        script.failing = c.failing;
        script.bGivesNothing = c.bGivesNothing;
        script.hrFailure = static_cast<HRESULT>(0x80040200 + c.failing);
        script.strAgentTitle = c.bAgentShows ? place.strAgentTitle : L"";
        SCOPED_TRACE(testing::Message() << "failing step " << c.failing << (c.bGivesNothing ? ", gives nothing" : "")
                                        << (c.bAgentShows ? "" : ", no agent window"));
        CFakeChain chain(&script);

        const SVerbResult result = StartAgent(place, chain.Route(hShell.Get()));
        const CScopedWindow hAgent(script.hAgent);

        EXPECT_EQ(0, script.lRefs) << "every reference handed out is released";
        if (c.failing == kStepCount && c.bAgentShows) {
            EXPECT_EQ(kExitDone, result.nExit) << result.strFailure;
        } else if (c.failing == kStepCount) {
            EXPECT_EQ(L"Glimagent did not come up within 500 ms.", result.strFailure);
        } else {
            wchar_t szHr[16] = {};
            swprintf(
                szHr, 16, L"0x%08lX",
                static_cast<unsigned long>(!c.bGivesNothing ? script.hrFailure : (c.failing == kFindWindow ? 1 : 1)));
            EXPECT_EQ(std::wstring(L"Glimagent could not be started through the user's shell (") +
                          kStepNames[c.failing] + L" failed, " + szHr + L").",
                      result.strFailure);
        }
        EXPECT_EQ(c.failing >= kExecute ? 1 : 0, script.nExecutes);
        if (script.nExecutes == 1) {
            EXPECT_EQ(place.strProgramDir + L"\\Glimagent.exe", script.strFile);
            EXPECT_EQ(place.strProgramDir, script.strDir);
            EXPECT_EQ(L"open", script.strOperation);
            EXPECT_EQ(VT_EMPTY, script.vtArgs);
            EXPECT_EQ(SW_SHOWNORMAL, script.lShow);
        }
    }
}

TEST(SetupHelperStartAgent, NoShellIsNoFailureAndAShellThatDoesNotAnswerIsNotAsked)
{
    SShellScript script;
    CFakeChain chain(&script);
    SShellRoute none = chain.Route(nullptr);
    none.findShellProcess = [] { return static_cast<DWORD>(0); };
    int nCreates = 0;
    none.createShellWindows = [&nCreates](IShellWindows**) {
        ++nCreates;
        return E_FAIL;
    };
    SVerbResult result = StartAgent(TestPlace(), none);
    EXPECT_EQ(kExitDone, result.nExit) << result.strFailure;
    ASSERT_EQ(1u, result.lines.size());
    EXPECT_EQ(L"No user shell runs here: Glimagent starts at the next logon", result.lines[0]);

    // A shell window whose thread stops taking messages once it is made.
    HWND hHung = nullptr;
    HANDLE hRelease = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const glim::CScopedHandle hReleaseOwner(hRelease);
    std::thread hung([&hHung, hRelease] {
        HWND hWnd =
            CreateWindowExW(0, L"STATIC", L"hung shell", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
        InterlockedExchangePointer(reinterpret_cast<void**>(&hHung), hWnd);
        WaitForSingleObject(hRelease, 30000);
        DestroyWindow(hWnd);
    });
    ASSERT_TRUE(glimtest::WaitUntil(
        [&hHung] {
            return InterlockedCompareExchangePointer(reinterpret_cast<void**>(&hHung), nullptr, nullptr) != nullptr;
        },
        5000));
    SShellRoute silent = chain.Route(hHung);
    silent.createShellWindows = none.createShellWindows;
    result = StartAgent(TestPlace(), silent);
    SetEvent(hRelease);
    hung.join();
    EXPECT_EQ(L"The user's shell did not answer within 500 ms, so Glimagent cannot be started.", result.strFailure);
    EXPECT_EQ(0, nCreates);
}

// The platform's own shell. Under Wine the desktop registers no shell window, explorer.exe
// serves ShellWindows as a local server and the whole route reaches its ShellExecute: the agent
// (the stand-in under the agent's name, showing the agent's window) starts as explorer's child,
// and a stop ends it with its exit command.
TEST(SetupHelperStartAgent, StartsTheAgentThroughThisPlatformsShell)
{
    const SShellRoute route = SystemShellRoute();
    // explorer.exe runs once some process has used the display.
    const CScopedWindow hWindow(
        CreateWindowExW(0, L"STATIC", L"display", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(glimtest::WaitUntil([&route] { return route.findShellProcess() != 0; }, 10000))
        << "no shell process in this session";
    const DWORD dwShell = route.findShellProcess();
    ASSERT_EQ(nullptr, FindWindowW(nullptr, glim::kAgentWindowTitle)) << "an agent runs already";
    glimtest::CTempFolder temp;
    ASSERT_TRUE(CopyFileW(glimtest::SetupPeerPath().c_str(), temp.File(L"Glimagent.exe").c_str(), TRUE));
    SAgentStartPlace place;
    place.strProgramDir = temp.Path();
    // An agent left running by a failed check is ended with the test.
    struct SEndLeftAgent {
        ~SEndLeftAgent()
        {
            DWORD dwPid = 0;
            const HWND hLeft = FindWindowW(nullptr, glim::kAgentWindowTitle);
            if (hLeft && GetWindowThreadProcessId(hLeft, &dwPid)) {
                const glim::CScopedHandle hProcess(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, dwPid));
                if (hProcess && TerminateProcess(hProcess.Get(), 1))
                    WaitForSingleObject(hProcess.Get(), 5000);
            }
        }
    } endLeftAgent;

    const SVerbResult started = StartAgent(place, route);

    ASSERT_EQ(kExitDone, started.nExit) << started.strFailure;
    const HWND hAgent = FindWindowW(nullptr, glim::kAgentWindowTitle);
    ASSERT_NE(nullptr, hAgent);
    DWORD dwAgent = 0;
    GetWindowThreadProcessId(hAgent, &dwAgent);
    EXPECT_EQ(dwShell, ParentOf(dwAgent)) << "started by the shell, not by this process";

    SSetupPlace stop;
    stop.strServiceName = L"GlimSetupNoSuchService";
    stop.hRecordRoot = HKEY_CURRENT_USER;
    stop.strRecordKey = L"Software\\Vessik\\GlimkitTest\\Shell" + std::to_wstring(GetCurrentProcessId());
    const SVerbResult stopped = StopPrograms(stop);
    RegDeleteKeyExW(stop.hRecordRoot, stop.strRecordKey.c_str(), KEY_WOW64_64KEY, 0);
    EXPECT_EQ(kExitDone, stopped.nExit) << stopped.strFailure;
    EXPECT_EQ(nullptr, FindWindowW(nullptr, glim::kAgentWindowTitle));
}

}  // namespace
