// Glimagent: the per-user agent. A start with a command word relays it to the session's
// main instance and ends; a start without one becomes the main instance, whose hidden main
// window carries all of the agent's work on one thread.
#include <windows.h>

#include <objbase.h>

#include "AgentLog.h"
#include "AgentRelay.h"
#include "AgentRules.h"
#include "GlimLog.h"
#include "GlimNames.h"
#include "KBBackLightMgr.h"
#include "MainThread.h"
#include "PowerMonitor.h"
#include "ScopedHandle.h"
#include "SettingsFile.h"
#include "osd/OSDWindow.h"
#include "resources/resource.h"
#include "sensing/AmbientLightAware.h"
#include "sensing/InputTracking.h"

using namespace glim;

HINSTANCE g_hInstance = nullptr;
wchar_t g_szMainTitle[100];
wchar_t g_szMainClass[100];

// Held by every agent process for its whole run; nothing waits on it.
CMyMutex g_mutLux(kMutexLux);

namespace {

constexpr int kMaxLoadString = 100;

INT_PTR CALLBACK AboutBoxProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM)
{
    switch (uMsg) {
    case WM_INITDIALOG: return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(hDlg, LOWORD(wParam));
            return TRUE;
        }
        break;
    default: break;
    }
    return FALSE;
}

// Undoes the main instance's start-up in a fixed order; timers, listener threads and the
// manager end with the process.
void Shutdown()
{
    CPowerMonitor::GetInstance()->UninitPowerMonitor();
    CKBBackLightMgr* pMgr = CKBBackLightMgr::GetInstance();
    if (pMgr->m_pOSD && pMgr->m_pOSD->GetHwnd())
        pMgr->m_pOSD->Destroy();
    CInputTracking::GetInstance()->StopTracking();
    CambientLightAware::GetInstance()->UninitAmbientLightAware();
    CoUninitialize();
    logfilesync::StopAgentLog();
    PostQuitMessage(0);
}

LRESULT CALLBACK WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    static const wchar_t kLabel[] = L"WndProc";
    switch (uMsg) {
    case WM_F12:
        GLIM_LOG('D', kLabel, L"WM_F12");
        CInputTracking::UpdateLastActiveTime();
        CKBBackLightMgr::GetInstance()->SwitchToNextStatus();
        return 0;
    case WM_OSD:
        GLIM_LOG('D', kLabel, L"WM_OSD");
        CInputTracking::UpdateLastActiveTime();
        CKBBackLightMgr::GetInstance()->ShowOSD();
        return 0;
    case WM_LUX:
        CKBBackLightMgr::GetInstance()->UpdateBrightnessByLux(static_cast<float>(static_cast<UINT64>(wParam)));
        return 0;
    case WM_FULLSCREEN: CKBBackLightMgr::GetInstance()->OnFullScreenVerdict(wParam, lParam); return 0;
    case WM_UWP_MESSAGE: CKBBackLightMgr::GetInstance()->OnConfigChange(wParam, lParam); return 0;
    case WM_POWERBROADCAST:
        // Not idle: the power monitor hands display changes to the manager, which must exist.
        CKBBackLightMgr::GetInstance();
        CPowerMonitor::GetInstance()->OnPowerBroadcast(wParam, lParam);
        return 0;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDM_ABOUT: DialogBoxParamW(g_hInstance, MAKEINTRESOURCEW(IDD_ABOUTBOX), hWnd, AboutBoxProc, 0); return 0;
        case IDM_EXIT:
            static_assert(IDM_EXIT == kAgentExitCommand, "the exit command others send");
            DestroyWindow(hWnd);
            return 0;
        default: return DefWindowProcW(hWnd, uMsg, wParam, lParam);
        }
    case WM_PAINT: {
        PAINTSTRUCT ps;
        BeginPaint(hWnd, &ps);
        EndPaint(hWnd, &ps);
        return 0;
    }
    case WM_KEYDOWN: return 0;
    case WM_DESTROY: Shutdown(); return 0;
    default: return DefWindowProcW(hWnd, uMsg, wParam, lParam);
    }
}

void RegisterMainClass(HINSTANCE hInstance)
{
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = WndProc;
    wc.hInstance = hInstance;
    wc.hIcon = LoadIconW(hInstance, MAKEINTRESOURCEW(IDI_GLIMAGENT));
    wc.hIconSm = LoadIconW(hInstance, MAKEINTRESOURCEW(IDI_GLIMAGENT));
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszMenuName = MAKEINTRESOURCEW(IDC_GLIMAGENT);
    wc.lpszClassName = g_szMainClass;
    RegisterClassExW(&wc);  // a failure shows up as a window that cannot be created
}

int RunMainLoop(HINSTANCE hInstance)
{
    HACCEL hAccel = LoadAcceleratorsW(hInstance, MAKEINTRESOURCEW(IDC_GLIMAGENT));
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (!TranslateAcceleratorW(msg.hwnd, hAccel, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return static_cast<int>(msg.wParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, PWSTR, int)
{
    // DLLs come from this program's folder and System32 only, never from the current folder
    // or PATH (the delay-loaded ones included).
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    static const wchar_t kLabel[] = L"wWinMain";
    // Relays find the main instance by its title, before the command line is examined.
    HWND hMain = FindWindowW(nullptr, kAgentWindowTitle);
    const agent::AgentRole role = agent::DecideAgentRole(GetCommandLineW());
    if (role != agent::AgentRole::Main) {
        if (hMain)
            agent::RunRelay(role);
        return 0;
    }

    glim::CScopedHandle hMainMutex(CreateMutexW(nullptr, FALSE, kMutexAgentMain));
    if (!hMainMutex || GetLastError() == ERROR_ALREADY_EXISTS)
        return 0;
    // The mutex stays open until the process ends: it marks the session's main instance.
    hMainMutex.Keep();
    agent::RecordMainThread();

    logfilesync::StartAgentLog();
    LoadStringW(hInstance, IDS_APP_TITLE, g_szMainTitle, kMaxLoadString);
    LoadStringW(hInstance, IDC_GLIMAGENT, g_szMainClass, kMaxLoadString);
    RegisterMainClass(hInstance);
    g_hInstance = hInstance;

    HWND hWnd = CreateWindowExW(0, g_szMainClass, g_szMainTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, CW_USEDEFAULT,
                                0, nullptr, nullptr, hInstance, nullptr);
    if (!hWnd) {
        GLIM_LOG_LAST_ERROR('E', kLabel, L"CreateWindowEx");
        return 0;
    }
    UpdateWindow(hWnd);  // never shown: the window only owns the message queue

    // Without the manager the window still runs, so the session keeps its main instance.
    if (!CKBBackLightMgr::GetInstance()->Init(hInstance, hWnd))
        GLIM_LOG('E', kLabel, L"CKBBackLightMgr::Init failed");
    return RunMainLoop(hInstance);
}
