#include "Service.h"

#include <cwchar>

#include "GlimLog.h"
#include "GlimNames.h"
#include "ScopeExit.h"
#include "ScopedHandle.h"
#include "ServiceCommand.h"
#include "ServiceInstall.h"

using namespace glim;

namespace {

wchar_t g_szServiceName[256] = {};
CService* volatile g_pService = nullptr;  // set by ServiceEntry while the dispatcher runs
SERVICE_STATUS_HANDLE g_hServiceStatus = nullptr;
// Filled by every report. Shared by the handler and ServiceMain without a lock: a
// re-report by the handler may overtake a transition, which the next report corrects.
SERVICE_STATUS g_ServiceStatus = {};
HANDLE g_hStopEvent = nullptr;  // unnamed, manual-reset

constexpr DWORD kAcceptedControls = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN |
    SERVICE_ACCEPT_HARDWAREPROFILECHANGE | SERVICE_ACCEPT_POWEREVENT | SERVICE_ACCEPT_SESSIONCHANGE;
static_assert(kAcceptedControls == 0xE5, "controls the service accepts");

bool IsPendingState(DWORD dwState)
{
    return dwState == SERVICE_START_PENDING || dwState == SERVICE_STOP_PENDING || dwState == SERVICE_CONTINUE_PENDING ||
        dwState == SERVICE_PAUSE_PENDING;
}

}  // namespace

const wchar_t* glim::ServiceName()
{
    return g_szServiceName;
}

CService::CService()
    : m_szDisplayName{}
    , m_szDescription{}
    , m_szDependencies{}
    , m_bAutoStart(FALSE)
    , m_bInitialized(FALSE)
{
}

CService::~CService() = default;

DWORD CService::Initialize()
{
    wcsncpy(g_szServiceName, kServiceName, 255);
    wcsncpy(m_szDisplayName, kServiceName, kDisplayNameChars - 1);
    m_szDescription[0] = L'\0';
    m_szDependencies[0] = L'\0';
    m_szDependencies[1] = L'\0';
    m_bAutoStart = TRUE;
    m_bInitialized = TRUE;
    return ERROR_SUCCESS;
}

DWORD CService::SignalStop()
{
    if (g_hStopEvent)
        SetEvent(g_hStopEvent);
    return ERROR_SUCCESS;
}

DWORD CService::TerminateMainLoop()
{
    GLIM_LOG('D', L"CService::TerminateMainLoop", L"TerminateMainLoop");
    return SignalStop();
}

DWORD CService::OnPreShutdown()
{
    GLIM_LOG('D', L"CService::OnPreShutdown", L"OnPreShutdown");
    return SignalStop();
}

DWORD CService::OnShutdown()
{
    GLIM_LOG('D', L"CService::OnShutdown", L"tovin OnShutdown");
    return SignalStop();
}

DWORD CService::ExecArguments(int nArgc, LPWSTR* ppszArgv)
{
    static const wchar_t kLabel[] = L"CService::ExecArguments";
    if (!m_bInitialized) {
        GLIM_LOG('E', kLabel, L"Not init.");
        return ERROR_NOT_READY;
    }
    const ServiceCommand cmd = ParseServiceCommand(nArgc, ppszArgv);
    DWORD dwErr = ERROR_SUCCESS;
    switch (cmd.eVerb) {
    case ServiceVerb::NoArguments: GLIM_LOG('E', kLabel, L"Input parameters is NULL."); return ERROR_INVALID_PARAMETER;
    case ServiceVerb::RunService: return ServiceEntry();
    case ServiceVerb::Ignored: return ERROR_SUCCESS;
    case ServiceVerb::Install: {
        wchar_t szModule[kPathChars] = {};
        wchar_t szImage[kPathChars] = {};
        const DWORD cch = GetModuleFileNameW(nullptr, szModule, kPathChars);
        // A truncated module path would register a service that cannot start.
        if (cch == 0 || cch >= static_cast<DWORD>(kPathChars) || !BuildImagePath(szModule, szImage)) {
            dwErr = ERROR_FILENAME_EXCED_RANGE;
            GLIM_LOG('E', kLabel, L"[%s]: path too long, dwErr=%d", cmd.szVerb, dwErr);
            break;
        }
        GLIM_LOG('D', kLabel, L"[%s]: path=%s, bDelay=%d", cmd.szVerb, szImage, cmd.bDelayedStart);
        dwErr = Install(szImage, cmd.bDelayedStart);
        break;
    }
    case ServiceVerb::Uninstall:
        GLIM_LOG('D', kLabel, L"[%s]: ", cmd.szVerb);
        dwErr = Uninstall();
        break;
    case ServiceVerb::Start:
        GLIM_LOG('D', kLabel, L"[%s]: ", cmd.szVerb);
        dwErr = Start();
        break;
    case ServiceVerb::Stop:
        GLIM_LOG('D', kLabel, L"[%s]: ", cmd.szVerb);
        dwErr = Stop();
        break;
    }
    GLIM_LOG('D', kLabel, L"[%s]: dwErr=%d", cmd.szVerb, dwErr);
    return dwErr;
}

DWORD CService::ServiceEntry()
{
    static const wchar_t kLabel[] = L"CService::ServiceEntry";
    g_pService = this;
    SERVICE_TABLE_ENTRYW table[] = {{g_szServiceName, &CService::ServiceMain}, {nullptr, nullptr}};
    GLIM_LOG('D', kLabel, L"ServiceMutex: %s", g_szServiceName);
    const CScopedHandle hMutex(CreateMutexW(nullptr, TRUE, g_szServiceName));
    const DWORD dwMutexErr = GetLastError();
    if (!hMutex)
        GLIM_LOG('E', kLabel, L"CreateMutex failed, dwErr=%d", dwMutexErr);
    if (!hMutex || dwMutexErr == ERROR_ALREADY_EXISTS) {
        // Any process can take the name first; only a service that runs keeps this copy out.
        const DWORD dwState = QueryServiceState(g_szServiceName);
        if (IsServiceProcessRunning(dwState)) {
            if (hMutex)
                GLIM_LOG('E', kLabel, L"Service already running.");
            g_pService = nullptr;
            return ERROR_SUCCESS;
        }
        GLIM_LOG('W', kLabel, L"Mutex %s is taken but the service is not running (state %d), dispatching.",
                 g_szServiceName, static_cast<int>(dwState));
    }
    // Returns only once the service has stopped; run by hand it fails with 1063.
    if (!StartServiceCtrlDispatcherW(table))
        GLIM_LOG_LAST_ERROR('E', kLabel, L"StartServiceCtrlDispatcher");
    g_pService = nullptr;
    ReleaseMutex(hMutex.Get());
    return ERROR_SUCCESS;
}

void WINAPI CService::ServiceMain(DWORD dwArgc, LPWSTR* lpszArgv)
{
    static const wchar_t kLabel[] = L"CService::ServiceMain";
    CService* pService = g_pService;
    if (!pService) {
        GLIM_LOG('E', kLabel, L"Not init.");
        return;
    }
    // The work starts before anything is reported to the service control manager. When it
    // cannot start, the service stops with its error as soon as it can report one.
    const DWORD dwStartErr = pService->EnterMainLoop(dwArgc, lpszArgv);

    // Every way out ends alike: the work is left, the handler loses the stop event before it
    // closes, and the service reports itself stopped with its exit code (a non-zero one lets
    // the control manager's recovery restart it). The report is logged once a handler exists.
    CScopedHandle hStopEvent;
    DWORD dwExitCode = ERROR_SUCCESS;
    bool bHandlerRegistered = false;
    const CScopeExit stopped([&] {
        pService->LeaveMainLoop();
        g_hStopEvent = nullptr;
        hStopEvent.Reset();
        const DWORD dwErr = pService->SetServiceStatus(SERVICE_STOPPED, 0, dwExitCode);
        if (bHandlerRegistered)
            GLIM_LOG('D', kLabel, L"Set [STOPPED] status, dwErr=%d", dwErr);
    });
    hStopEvent.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!hStopEvent) {
        dwExitCode = GLIM_LOG_LAST_ERROR('E', kLabel, L"CreateEvent");
        return;
    }
    // The handler reaches the event through g_hStopEvent, which is cleared before it closes.
    g_hStopEvent = hStopEvent.Get();
    g_hServiceStatus = RegisterServiceCtrlHandlerExW(g_szServiceName, &CService::ServiceHandler, pService);
    if (!g_hServiceStatus) {
        dwExitCode = GLIM_LOG_LAST_ERROR('E', kLabel, L"RegisterServiceCtrlHandlerEx");
        return;
    }
    bHandlerRegistered = true;
    if (dwStartErr != ERROR_SUCCESS) {
        GLIM_LOG('E', kLabel, L"EnterMainLoop failed, dwErr=%d", dwStartErr);
        dwExitCode = dwStartErr;
        return;
    }
    DWORD dwErr = pService->SetServiceStatus(SERVICE_START_PENDING, 5000);
    GLIM_LOG('D', kLabel, L"Set [START PENDING] status, dwErr=%d", dwErr);
    const DWORD dwBeforeErr = pService->BeforeMainLoop(g_hServiceStatus);
    GLIM_LOG('D', kLabel, L"BeforeMainLoop: dwErr=%d", dwBeforeErr);
    DWORD dwLoopErr = ERROR_SUCCESS;
    if (dwBeforeErr == ERROR_SUCCESS) {
        dwErr = pService->SetServiceStatus(SERVICE_RUNNING, 0);
        GLIM_LOG('D', kLabel, L"Set [RUNNING] status, dwErr=%d", dwErr);
        dwLoopErr = pService->MainLoop(dwArgc, lpszArgv);
        GLIM_LOG('D', kLabel, L"MainLoop: nRet=%d", static_cast<int>(dwLoopErr));
    }
    dwErr = pService->SetServiceStatus(SERVICE_STOP_PENDING, 0);
    GLIM_LOG('D', kLabel, L"Set [STOP PENDING] status, dwErr=%d", dwErr);
    pService->AfterMainLoop(g_hServiceStatus);
    GLIM_LOG('D', kLabel, L"AfterMainLoop: ");
    dwExitCode = dwBeforeErr != ERROR_SUCCESS ? dwBeforeErr : dwLoopErr;
}

DWORD CService::SetServiceStatus(DWORD dwState, DWORD dwWaitHint, DWORD dwWin32ExitCode)
{
    static const wchar_t kLabel[] = L"CService::SetServiceStatus";
    if (!m_bInitialized || !g_hServiceStatus) {
        GLIM_LOG('E', kLabel, L"Not init.");
        return ERROR_NOT_READY;
    }
    if (IsPendingState(dwState)) {
        g_ServiceStatus.dwCheckPoint++;
        g_ServiceStatus.dwControlsAccepted = 0;
    } else {
        g_ServiceStatus.dwCheckPoint = 0;
        g_ServiceStatus.dwControlsAccepted = kAcceptedControls;
    }
    g_ServiceStatus.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_ServiceStatus.dwWin32ExitCode = dwState == SERVICE_STOPPED ? dwWin32ExitCode : ERROR_SUCCESS;
    g_ServiceStatus.dwServiceSpecificExitCode = 0;
    g_ServiceStatus.dwCurrentState = dwState;
    g_ServiceStatus.dwWaitHint = dwWaitHint;
    if (!::SetServiceStatus(g_hServiceStatus, &g_ServiceStatus)) {
        const DWORD dwErr = GetLastError();
        GLIM_LOG('E', kLabel, L"SetServiceStatus(%d) failed: dwErr=%d", dwState, dwErr);
        return dwErr;
    }
    return ERROR_SUCCESS;
}

DWORD WINAPI CService::ServiceHandler(DWORD dwControl, DWORD dwEventType, LPVOID lpEventData, LPVOID lpContext)
{
    static const wchar_t kLabel[] = L"CService::ServiceHandler";
    GLIM_LOG('D', kLabel, L"dwControl: %d, dwEventType: %d, lpEventData: 0x%08X, lpContext: 0x%08X", dwControl,
             dwEventType, static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(lpEventData)),
             static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(lpContext)));
    CService* pService = static_cast<CService*>(lpContext);
    if (!pService) {
        GLIM_LOG('E', kLabel, L"Service not implemented.");
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
    if (pService->BeforeServiceControl(dwControl, dwEventType, lpEventData, lpContext) == ERROR_CONTINUE) {
        GLIM_LOG('D', kLabel, L"dwControl: %d, continue.", dwControl);
        pService->SetServiceStatus(g_ServiceStatus.dwCurrentState, g_ServiceStatus.dwWaitHint);
        return ERROR_SUCCESS;
    }
    DWORD dwErr = ERROR_SUCCESS;
    switch (dwControl) {
    case SERVICE_CONTROL_STOP: dwErr = pService->TerminateMainLoop(); break;
    case SERVICE_CONTROL_PAUSE: dwErr = pService->OnPause(); break;
    case SERVICE_CONTROL_CONTINUE: dwErr = pService->OnContinue(); break;
    case SERVICE_CONTROL_INTERROGATE: dwErr = pService->OnInterrogate(); break;
    case SERVICE_CONTROL_SHUTDOWN: dwErr = pService->OnShutdown(); break;
    case SERVICE_CONTROL_PARAMCHANGE: dwErr = pService->OnParamChange(); break;
    case SERVICE_CONTROL_NETBINDADD: dwErr = pService->OnNetBindAdd(); break;
    case SERVICE_CONTROL_NETBINDREMOVE: dwErr = pService->OnNetBindRemove(); break;
    case SERVICE_CONTROL_NETBINDENABLE: dwErr = pService->OnNetBindEnable(); break;
    case SERVICE_CONTROL_NETBINDDISABLE: dwErr = pService->OnNetBindDisable(); break;
    case SERVICE_CONTROL_DEVICEEVENT: dwErr = pService->OnDeviceEvent(dwEventType, lpEventData); break;
    case SERVICE_CONTROL_HARDWAREPROFILECHANGE:
        dwErr = pService->OnHardwareProfileChange(dwEventType, lpEventData);
        break;
    case SERVICE_CONTROL_POWEREVENT: dwErr = pService->OnPowerEvent(dwEventType, lpEventData); break;
    case SERVICE_CONTROL_SESSIONCHANGE: dwErr = pService->OnSessionChange(dwEventType, lpEventData); break;
    case SERVICE_CONTROL_PRESHUTDOWN: dwErr = pService->OnPreShutdown(); break;
    case SERVICE_CONTROL_TIMECHANGE: dwErr = pService->OnTimeChange(); break;
    case SERVICE_CONTROL_TRIGGEREVENT: dwErr = pService->OnTriggerEvent(); break;
    default: dwErr = pService->OnUserControl(dwControl, dwEventType); break;
    }
    GLIM_LOG('D', kLabel, L"dwControl: %d, dwErr=%d", dwControl, dwErr);
    pService->SetServiceStatus(g_ServiceStatus.dwCurrentState, g_ServiceStatus.dwWaitHint);
    return dwErr;
}

DWORD CService::MainLoop(DWORD, LPWSTR*)
{
    static const wchar_t kLabel[] = L"CService::MainLoop";
    const HANDLE handles[] = {g_hStopEvent, m_hWorker.Get()};
    const DWORD dwCount = m_hWorker ? 2 : 1;
    switch (WaitForMultipleObjects(dwCount, handles, FALSE, INFINITE)) {
    case WAIT_OBJECT_0: return ERROR_SUCCESS;
    case WAIT_OBJECT_0 + 1: {
        DWORD dwErr = ERROR_SUCCESS;
        if (!GetExitCodeThread(m_hWorker.Get(), &dwErr))
            dwErr = GetLastError();
        // A worker that ended with no code of its own still leaves the service without its work.
        if (dwErr == ERROR_SUCCESS)
            dwErr = ERROR_SERVICE_NO_THREAD;
        GLIM_LOG('E', kLabel, L"the service's work ended, stopping, dwErr=%d", dwErr);
        return dwErr;
    }
    default: return GLIM_LOG_LAST_ERROR('E', kLabel, L"WaitForMultipleObjects");
    }
}

DWORD CService::AfterMainLoop(SERVICE_STATUS_HANDLE)
{
    m_hWorker.Reset();
    return ERROR_SUCCESS;
}

DWORD CService::Install(const wchar_t* pszImagePath, BOOL bDelayedStart)
{
    const SServiceRegistration service = {g_szServiceName, m_szDisplayName, m_szDescription, m_szDependencies,
                                          m_bAutoStart};
    return InstallService(service, pszImagePath, bDelayedStart);
}

DWORD CService::Uninstall()
{
    static const wchar_t kLabel[] = L"CService::Uninstall";
    DWORD dwErr = BeforeStopService();
    if (dwErr != ERROR_SUCCESS) {
        GLIM_LOG('E', kLabel, L"BeforeStopService failed, dwErr=%d", dwErr);
        return dwErr;
    }
    dwErr = Stop();
    if (dwErr != ERROR_SUCCESS) {
        GLIM_LOG('E', kLabel, L"Stop failed, dwErr=%d", dwErr);
        return dwErr;
    }
    dwErr = BeforeDeleteService();
    if (dwErr != ERROR_SUCCESS) {
        GLIM_LOG('E', kLabel, L"BeforeDeleteService failed, dwErr=%d", dwErr);
        return dwErr;
    }
    dwErr = RemoveService(g_szServiceName, kLabel);
    if (dwErr != ERROR_SUCCESS)
        return dwErr;
    dwErr = AfterDeleteService();
    GLIM_LOG('D', kLabel, L"AfterDeleteService, dwErr=%d", dwErr);
    return dwErr;
}

DWORD CService::Start()
{
    return StartNamedService(g_szServiceName);
}

DWORD CService::Stop()
{
    return StopNamedService(g_szServiceName);
}
