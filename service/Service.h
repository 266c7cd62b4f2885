// The service program's skeleton: process entry dispatch (the four command verbs), the
// service entry point with its status reports, and the control handler that maps each
// control onto a virtual hook. The framework knows nothing of the backlight: the hooks
// that carry the service's work (EnterMainLoop, OnPowerEvent) are defined with the read
// loop.
#pragma once

#include <windows.h>
#include <dbt.h>

#include "ScopedHandle.h"

class CService {
public:
    static constexpr int kDisplayNameChars = 256;
    static constexpr int kDescriptionChars = 1024;
    static constexpr int kDependenciesChars = 1024;
    static constexpr int kPowerNotifyCount = 4;
    // Start and Stop give up waiting for the wanted state after this long (ERROR_TIMEOUT).
    static constexpr DWORD kStateWaitLimitMs = 30000;
    // Install configures the recovery of the install layout (glim::kRecoveryDelaysMs,
    // kRecoveryResetSeconds, kRecoveryOnNonCrashFailures).

    CService();
    virtual ~CService();
    CService(const CService&) = delete;
    CService& operator=(const CService&) = delete;

    // Hooks, in slot order. Those without behaviour of their own return 0.
    virtual DWORD TerminateMainLoop();
    virtual DWORD OnPause();
    virtual DWORD OnContinue();
    virtual DWORD OnPreShutdown();
    virtual DWORD OnShutdown();
    virtual DWORD OnPowerEvent(DWORD dwEventType, LPVOID lpEventData);
    virtual DWORD OnSessionChange(DWORD dwEventType, LPVOID lpEventData);
    virtual DWORD OnNetBindAdd();
    virtual DWORD OnNetBindRemove();
    virtual DWORD OnNetBindEnable();
    virtual DWORD OnNetBindDisable();
    virtual DWORD OnInterrogate();
    virtual DWORD OnParamChange();
    virtual DWORD OnDeviceEvent(DWORD dwEventType, LPVOID lpEventData);
    virtual DWORD OnHardwareProfileChange(DWORD dwEventType, LPVOID lpEventData);
    virtual DWORD OnTimeChange();
    virtual DWORD OnTriggerEvent();
    virtual DWORD OnUserControl(DWORD dwControl, DWORD dwEventType);
    virtual DWORD EnterMainLoop(DWORD dwArgc, LPWSTR* lpszArgv);
    virtual DWORD BeforeMainLoop(SERVICE_STATUS_HANDLE hStatus);
    virtual DWORD MainLoop(DWORD dwArgc, LPWSTR* lpszArgv);
    virtual DWORD AfterMainLoop(SERVICE_STATUS_HANDLE hStatus);
    virtual DWORD BeforeStopService();
    virtual DWORD BeforeDeleteService();
    virtual DWORD AfterDeleteService();
    // Returning ERROR_CONTINUE tells the handler that the control was dealt with.
    virtual DWORD BeforeServiceControl(DWORD dwControl, DWORD dwEventType, LPVOID lpEventData, LPVOID lpContext);
    // The counterpart of EnterMainLoop, called before the service reports itself stopped:
    // the work started there must leave nothing half done when the process ends.
    virtual DWORD LeaveMainLoop();

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
    glim::CScopedDevNotify m_hDevNotify;
    glim::CScopedPowerNotify m_hPowerNotify[kPowerNotifyCount];
    // The power-event state, used on the control handler's thread only (the control manager
    // hands over one control at a time). BeforeMainLoop sets m_bModernStandby from the
    // machine's capabilities; m_bDisplayOff is what the last GUID_MONITOR_POWER_ON said.
    BOOL m_bModernStandby;
    BOOL m_bDisplayOff;
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
// The state of the named service as its control manager reports it; 0 when it cannot be
// asked (not registered, no access).
DWORD QueryServiceState(const wchar_t* pszName);
}  // namespace glim
