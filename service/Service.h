// The service program's skeleton: process entry dispatch (the four command verbs), the
// service entry point with its status reports, and the control handler that maps each
// control onto a virtual hook. The framework knows nothing of the backlight: a class
// derived from it carries the service's work (CBackLightService), and the control
// manager's side of the verbs lies below it (ServiceInstall.h).
#pragma once

#include <windows.h>

#include "ScopedHandle.h"

class CService {
public:
    static constexpr int kDisplayNameChars = 256;
    static constexpr int kDescriptionChars = 1024;
    static constexpr int kDependenciesChars = 1024;

    CService();
    virtual ~CService();
    CService(const CService&) = delete;
    CService& operator=(const CService&) = delete;

    // Hooks, in slot order. Those without behaviour of their own return 0.
    virtual DWORD TerminateMainLoop();
    virtual DWORD OnPause() { return ERROR_SUCCESS; }
    virtual DWORD OnContinue() { return ERROR_SUCCESS; }
    virtual DWORD OnPreShutdown();
    virtual DWORD OnShutdown();
    virtual DWORD OnPowerEvent(DWORD /*dwEventType*/, LPVOID /*lpEventData*/) { return ERROR_SUCCESS; }
    virtual DWORD OnSessionChange(DWORD /*dwEventType*/, LPVOID /*lpEventData*/) { return ERROR_SUCCESS; }
    virtual DWORD OnNetBindAdd() { return ERROR_SUCCESS; }
    virtual DWORD OnNetBindRemove() { return ERROR_SUCCESS; }
    virtual DWORD OnNetBindEnable() { return ERROR_SUCCESS; }
    virtual DWORD OnNetBindDisable() { return ERROR_SUCCESS; }
    virtual DWORD OnInterrogate() { return ERROR_SUCCESS; }
    virtual DWORD OnParamChange() { return ERROR_SUCCESS; }
    virtual DWORD OnDeviceEvent(DWORD /*dwEventType*/, LPVOID /*lpEventData*/) { return ERROR_SUCCESS; }
    virtual DWORD OnHardwareProfileChange(DWORD /*dwEventType*/, LPVOID /*lpEventData*/) { return ERROR_SUCCESS; }
    virtual DWORD OnTimeChange() { return ERROR_SUCCESS; }
    virtual DWORD OnTriggerEvent() { return ERROR_SUCCESS; }
    virtual DWORD OnUserControl(DWORD /*dwControl*/, DWORD /*dwEventType*/) { return ERROR_SUCCESS; }
    virtual DWORD EnterMainLoop(DWORD /*dwArgc*/, LPWSTR* /*lpszArgv*/) { return ERROR_SUCCESS; }
    virtual DWORD BeforeMainLoop(SERVICE_STATUS_HANDLE /*hStatus*/) { return ERROR_SUCCESS; }
    virtual DWORD MainLoop(DWORD dwArgc, LPWSTR* lpszArgv);
    virtual DWORD AfterMainLoop(SERVICE_STATUS_HANDLE hStatus);
    virtual DWORD BeforeStopService() { return ERROR_SUCCESS; }
    virtual DWORD BeforeDeleteService() { return ERROR_SUCCESS; }
    virtual DWORD AfterDeleteService() { return ERROR_SUCCESS; }
    // Returning ERROR_CONTINUE tells the handler that the control was dealt with.
    virtual DWORD BeforeServiceControl(DWORD /*dwControl*/, DWORD /*dwEventType*/, LPVOID /*lpEventData*/,
                                       LPVOID /*lpContext*/)
    {
        return ERROR_SUCCESS;
    }
    // The counterpart of EnterMainLoop, called before the service reports itself stopped:
    // the work started there must leave nothing half done when the process ends.
    virtual DWORD LeaveMainLoop() { return ERROR_SUCCESS; }

    // Fills in the names and start mode of this service and marks the object usable.
    DWORD Initialize();
    // Dispatches on an argument vector built by BuildServiceArgv.
    DWORD ExecArguments(int nArgc, LPWSTR* ppszArgv);

    DWORD ServiceEntry();
    DWORD Install(const wchar_t* pszImagePath, BOOL bDelayedStart);
    DWORD Uninstall();
    DWORD Start();
    DWORD Stop();

    // Reports a state to the service control manager (service status record shared with
    // the control handler). A final SERVICE_STOPPED after a failed start carries the
    // failure as its Win32 exit code, so the manager shows why the service stopped.
    DWORD SetServiceStatus(DWORD dwState, DWORD dwWaitHint, DWORD dwWin32ExitCode = ERROR_SUCCESS);

    static void WINAPI ServiceMain(DWORD dwArgc, LPWSTR* lpszArgv);
    static DWORD WINAPI ServiceHandler(DWORD dwControl, DWORD dwEventType, LPVOID lpEventData, LPVOID lpContext);

    wchar_t m_szDisplayName[kDisplayNameChars];
    wchar_t m_szDescription[kDescriptionChars];
    wchar_t m_szDependencies[kDependenciesChars];  // list ended by an empty string
    BOOL m_bAutoStart;
    BOOL m_bInitialized;
    // The thread that carries the work EnterMainLoop started, when it has one: MainLoop ends
    // when it does, and the service stops with its exit code instead of running without it.
    glim::CScopedHandle m_hWorker;

private:
    // What TerminateMainLoop, OnPreShutdown and OnShutdown have in common.
    DWORD SignalStop();
};

namespace glim {
// The service name the framework registers, dispatches and locks under.
const wchar_t* ServiceName();
}  // namespace glim
