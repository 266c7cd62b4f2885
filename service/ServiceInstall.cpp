// Installation verbs: register, remove, start and stop the service through the service
// control manager.
#include "ServiceInstall.h"

#include "GlimLog.h"
#include "InstallLayout.h"
#include "ScopedHandle.h"
#include "ServiceCommand.h"
#include "ServiceRecovery.h"

using namespace glim;

namespace {

// Polls the service until it reports dwWanted, sleeping the smaller of its wait hint and
// 500 ms between queries, for at most kStateWaitLimitMs; a failed query or the
// limit ends it with ERROR_TIMEOUT. A hint of 0 (stop pending) still sleeps kMinPollMs, so
// the poll neither spins nor floods the log.
constexpr DWORD kMinPollMs = 10;

DWORD AwaitState(SC_HANDLE hService, DWORD dwWanted, const wchar_t* pszLabel, const wchar_t* pszSuccess)
{
    const ULONGLONG ullDeadline = GetTickCount64() + kStateWaitLimitMs;
    for (;;) {
        SERVICE_STATUS status = {};
        if (!QueryServiceStatus(hService, &status))
            return ERROR_TIMEOUT;
        if (status.dwCurrentState == dwWanted) {
            GLIM_LOG('D', pszLabel, pszSuccess);
            return ERROR_SUCCESS;
        }
        if (GetTickCount64() >= ullDeadline) {
            GLIM_LOG('E', pszLabel, L"State %d not reached within %dms.", static_cast<int>(dwWanted),
                     static_cast<int>(kStateWaitLimitMs));
            return ERROR_TIMEOUT;
        }
        DWORD dwWait = status.dwWaitHint < 500 ? status.dwWaitHint : 500;
        if (dwWait < kMinPollMs)
            dwWait = kMinPollMs;
        GLIM_LOG('D', pszLabel, L"To wait for %dms.", static_cast<int>(dwWait));
        Sleep(dwWait);
    }
}

// Opens the service control manager and the named service with all access, logging a
// failure under the caller's label.
DWORD OpenThisService(const wchar_t* pszName, CScopedScHandle& hManager, CScopedScHandle& hService,
                      const wchar_t* pszLabel)
{
    hManager.Reset(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!hManager)
        return GLIM_LOG_LAST_ERROR('E', pszLabel, L"OpenSCManager");
    hService.Reset(OpenServiceW(hManager.Get(), pszName, SERVICE_ALL_ACCESS));
    if (!hService)
        return GLIM_LOG_LAST_ERROR('E', pszLabel, L"OpenService");
    return ERROR_SUCCESS;
}

}  // namespace

DWORD glim::QueryServiceState(const wchar_t* pszName)
{
    CScopedScHandle hManager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    CScopedScHandle hService(hManager ? OpenServiceW(hManager.Get(), pszName, SERVICE_QUERY_STATUS) : nullptr);
    SERVICE_STATUS status = {};
    return hService && QueryServiceStatus(hService.Get(), &status) ? status.dwCurrentState : 0;
}

DWORD glim::InstallService(const SServiceRegistration& service, const wchar_t* pszImagePath, BOOL bDelayedStart)
{
    static const wchar_t kLabel[] = L"CService::Install";
    CScopedScHandle hManager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
    if (!hManager)
        return GLIM_LOG_LAST_ERROR('E', kLabel, L"OpenSCManager");
    wchar_t szSafePath[kPathChars] = {};
    if (!GetSafePath(pszImagePath, szSafePath)) {
        GLIM_LOG('E', kLabel, L"GetSafePath failed, dwErr=%d", ERROR_FILENAME_EXCED_RANGE);
        return ERROR_FILENAME_EXCED_RANGE;
    }
    CScopedScHandle hService(
        CreateServiceW(hManager.Get(), service.pszName, service.pszDisplayName, SERVICE_ALL_ACCESS,
                       SERVICE_WIN32_OWN_PROCESS, service.bAutoStart ? SERVICE_AUTO_START : SERVICE_DEMAND_START,
                       SERVICE_ERROR_NORMAL, szSafePath, nullptr, nullptr, service.pszDependencies, nullptr, nullptr));
    if (!hService)
        return GLIM_LOG_LAST_ERROR('E', kLabel, L"CreateService");
    DWORD dwLastErr = ERROR_SUCCESS;
    DWORD dwErr = ERROR_SUCCESS;
    SERVICE_DESCRIPTIONW description = {const_cast<wchar_t*>(service.pszDescription)};
    if (!ChangeServiceConfig2W(hService.Get(), SERVICE_CONFIG_DESCRIPTION, &description))
        dwLastErr = GLIM_LOG_LAST_ERROR('E', kLabel, L"ChangeServiceConfig2(description)");
    dwErr = ConfigureRecovery(hService.Get());
    if (dwErr != ERROR_SUCCESS) {
        dwLastErr = dwErr;
        GLIM_LOG('E', kLabel, L"ChangeServiceConfig2(failure actions) failed, dwErr=%d", dwLastErr);
    } else {
        GLIM_LOG('D', kLabel, L"Failure actions: restart after %d, %d, %d ms; reset after %d s.",
                 static_cast<int>(kRecoveryDelaysMs[0]), static_cast<int>(kRecoveryDelaysMs[1]),
                 static_cast<int>(kRecoveryDelaysMs[2]), static_cast<int>(kRecoveryResetSeconds));
    }
    // A control manager that does not know the flag (ERROR_INVALID_LEVEL) still restarts
    // after a crash: logged, and the install goes on.
    const DWORD dwFlagErr = ConfigureRecoveryOnErrors(hService.Get());
    if (dwFlagErr == ERROR_SUCCESS)
        GLIM_LOG('D', kLabel, L"Failure actions also after a stop with an error.");
    else
        GLIM_LOG('W', kLabel, L"ChangeServiceConfig2(failure actions flag) failed, dwErr=%d", dwFlagErr);
    if (service.bAutoStart && bDelayedStart) {
        SERVICE_DELAYED_AUTO_START_INFO delayed = {TRUE};
        if (!ChangeServiceConfig2W(hService.Get(), SERVICE_CONFIG_DELAYED_AUTO_START_INFO, &delayed))
            dwLastErr = GLIM_LOG_LAST_ERROR('E', kLabel, L"ChangeServiceConfig2(autostart)");
    }
    return dwLastErr;
}

DWORD glim::RemoveService(const wchar_t* pszName, const wchar_t* pszLabel)
{
    CScopedScHandle hManager;
    CScopedScHandle hService;
    const DWORD dwErr = OpenThisService(pszName, hManager, hService, pszLabel);
    if (dwErr != ERROR_SUCCESS)
        return dwErr;
    if (!DeleteService(hService.Get()))
        return GLIM_LOG_LAST_ERROR('E', pszLabel, L"DeleteService");
    return ERROR_SUCCESS;
}

DWORD glim::StartNamedService(const wchar_t* pszName)
{
    static const wchar_t kLabel[] = L"CService::Start";
    CScopedScHandle hManager;
    CScopedScHandle hService;
    DWORD dwErr = OpenThisService(pszName, hManager, hService, kLabel);
    if (dwErr != ERROR_SUCCESS)
        return dwErr;
    if (!StartServiceW(hService.Get(), 0, nullptr))
        return GLIM_LOG_LAST_ERROR('E', kLabel, L"StartService");
    return AwaitState(hService.Get(), SERVICE_RUNNING, kLabel, L"Run service success.");
}

DWORD glim::StopNamedService(const wchar_t* pszName)
{
    static const wchar_t kLabel[] = L"CService::Stop";
    CScopedScHandle hManager;
    CScopedScHandle hService;
    DWORD dwErr = OpenThisService(pszName, hManager, hService, kLabel);
    if (dwErr != ERROR_SUCCESS)
        return dwErr;
    SERVICE_STATUS status = {};
    if (!QueryServiceStatus(hService.Get(), &status))
        return GLIM_LOG_LAST_ERROR('E', kLabel, L"QueryServiceStatus");
    if (status.dwCurrentState == SERVICE_STOPPED)
        return ERROR_SUCCESS;
    GLIM_LOG('D', kLabel, L"Service is not stopped.");
    if (!ControlService(hService.Get(), SERVICE_CONTROL_STOP, &status))
        return GLIM_LOG_LAST_ERROR('E', kLabel, L"ControlService(stop)");
    return AwaitState(hService.Get(), SERVICE_STOPPED, kLabel, L"Stop service success.");
}
