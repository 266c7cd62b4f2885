// Installation verbs: register, remove, start and stop the service through the service
// control manager.
#include "Service.h"

#include "GlimLog.h"
#include "ScopedHandles.h"
#include "ServiceCommand.h"

using namespace glim;

namespace {

enum class WaitOutcome { Reached, QueryFailed, TimedOut };

// Polls the service until it reports dwWanted, sleeping the smaller of its wait hint and
// 500 ms between queries, for at most CService::kStateWaitLimitMs. A hint of 0 (stop
// pending) still sleeps kMinPollMs, so the poll neither spins nor floods the log.
constexpr DWORD kMinPollMs = 10;

WaitOutcome WaitForState(SC_HANDLE hService, DWORD dwWanted, const wchar_t* pszLabel)
{
    const ULONGLONG ullDeadline = GetTickCount64() + CService::kStateWaitLimitMs;
    for (;;) {
        SERVICE_STATUS status = {};
        if (!QueryServiceStatus(hService, &status))
            return WaitOutcome::QueryFailed;
        if (status.dwCurrentState == dwWanted)
            return WaitOutcome::Reached;
        if (GetTickCount64() >= ullDeadline)
            return WaitOutcome::TimedOut;
        DWORD dwWait = status.dwWaitHint < 500 ? status.dwWaitHint : 500;
        if (dwWait < kMinPollMs)
            dwWait = kMinPollMs;
        GLIM_LOG('D', pszLabel, L"To wait for %dms.", dwWait);
        Sleep(dwWait);
    }
}

}  // namespace

DWORD CService::Install(const wchar_t* pszImagePath, BOOL bDelayedStart)
{
    static const wchar_t kLabel[] = L"CService::Install";
    CScopedScHandle hManager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
    if (!hManager) {
        const DWORD dwErr = GetLastError();
        GLIM_LOG('E', kLabel, L"OpenSCManager failed, dwErr=%d", dwErr);
        return dwErr;
    }
    wchar_t szSafePath[kPathChars] = {};
    if (!GetSafePath(pszImagePath, szSafePath)) {
        GLIM_LOG('E', kLabel, L"GetSafePath failed, dwErr=%d", ERROR_FILENAME_EXCED_RANGE);
        return ERROR_FILENAME_EXCED_RANGE;
    }
    CScopedScHandle hService(CreateServiceW(hManager.Get(), ServiceName(), m_szDisplayName, SERVICE_ALL_ACCESS,
                                            SERVICE_WIN32_OWN_PROCESS,
                                            m_bAutoStart ? SERVICE_AUTO_START : SERVICE_DEMAND_START,
                                            SERVICE_ERROR_NORMAL, szSafePath, nullptr, nullptr, m_szDependencies,
                                            nullptr, nullptr));
    if (!hService) {
        const DWORD dwErr = GetLastError();
        GLIM_LOG('E', kLabel, L"CreateService failed, dwErr=%d", dwErr);
        return dwErr;
    }
    DWORD dwLastErr = ERROR_SUCCESS;
    SERVICE_DESCRIPTIONW description = {m_szDescription};
    if (!ChangeServiceConfig2W(hService.Get(), SERVICE_CONFIG_DESCRIPTION, &description)) {
        dwLastErr = GetLastError();
        GLIM_LOG('E', kLabel, L"ChangeServiceConfig2(description) failed, dwErr=%d", dwLastErr);
    }
    if (m_bAutoStart && bDelayedStart) {
        SERVICE_DELAYED_AUTO_START_INFO delayed = {TRUE};
        if (!ChangeServiceConfig2W(hService.Get(), SERVICE_CONFIG_DELAYED_AUTO_START_INFO, &delayed)) {
            dwLastErr = GetLastError();
            GLIM_LOG('E', kLabel, L"ChangeServiceConfig2(autostart) failed, dwErr=%d", dwLastErr);
        }
    }
    return dwLastErr;
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
    CScopedScHandle hManager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!hManager) {
        dwErr = GetLastError();
        GLIM_LOG('E', kLabel, L"OpenSCManager failed, dwErr=%d", dwErr);
        return dwErr;
    }
    CScopedScHandle hService(OpenServiceW(hManager.Get(), ServiceName(), SERVICE_ALL_ACCESS));
    if (!hService) {
        dwErr = GetLastError();
        GLIM_LOG('E', kLabel, L"OpenService failed, dwErr=%d", dwErr);
        return dwErr;
    }
    if (!DeleteService(hService.Get())) {
        dwErr = GetLastError();
        GLIM_LOG('E', kLabel, L"DeleteService failed, dwErr=%d", dwErr);
        return dwErr;
    }
    dwErr = AfterDeleteService();
    GLIM_LOG('D', kLabel, L"AfterDeleteService, dwErr=%d", dwErr);
    return dwErr;
}

DWORD CService::Start()
{
    static const wchar_t kLabel[] = L"CService::Start";
    CScopedScHandle hManager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!hManager) {
        const DWORD dwErr = GetLastError();
        GLIM_LOG('E', kLabel, L"OpenSCManager failed, dwErr=%d", dwErr);
        return dwErr;
    }
    CScopedScHandle hService(OpenServiceW(hManager.Get(), ServiceName(), SERVICE_ALL_ACCESS));
    if (!hService) {
        const DWORD dwErr = GetLastError();
        GLIM_LOG('E', kLabel, L"OpenService failed, dwErr=%d", dwErr);
        return dwErr;
    }
    if (!StartServiceW(hService.Get(), 0, nullptr)) {
        const DWORD dwErr = GetLastError();
        GLIM_LOG('E', kLabel, L"StartService failed, dwErr=%d", dwErr);
        return dwErr;
    }
    switch (WaitForState(hService.Get(), SERVICE_RUNNING, kLabel)) {
    case WaitOutcome::Reached:
        GLIM_LOG('D', kLabel, L"Run service success.");
        return ERROR_SUCCESS;
    case WaitOutcome::TimedOut:
        GLIM_LOG('E', kLabel, L"Service not running after %dms.", static_cast<int>(kStateWaitLimitMs));
        return ERROR_TIMEOUT;
    default:
        return ERROR_TIMEOUT;
    }
}

DWORD CService::Stop()
{
    static const wchar_t kLabel[] = L"CService::Stop";
    CScopedScHandle hManager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!hManager) {
        const DWORD dwErr = GetLastError();
        GLIM_LOG('E', kLabel, L"OpenSCManager failed, dwErr=%d", dwErr);
        return dwErr;
    }
    CScopedScHandle hService(OpenServiceW(hManager.Get(), ServiceName(), SERVICE_ALL_ACCESS));
    if (!hService) {
        const DWORD dwErr = GetLastError();
        GLIM_LOG('E', kLabel, L"OpenService failed, dwErr=%d", dwErr);
        return dwErr;
    }
    SERVICE_STATUS status = {};
    if (!QueryServiceStatus(hService.Get(), &status)) {
        const DWORD dwErr = GetLastError();
        GLIM_LOG('E', kLabel, L"QueryServiceStatus failed, dwErr=%d", dwErr);
        return dwErr;
    }
    if (status.dwCurrentState == SERVICE_STOPPED)
        return ERROR_SUCCESS;
    GLIM_LOG('D', kLabel, L"Service is not stopped.");
    if (!ControlService(hService.Get(), SERVICE_CONTROL_STOP, &status)) {
        const DWORD dwErr = GetLastError();
        GLIM_LOG('E', kLabel, L"ControlService(stop) failed, dwErr=%d", dwErr);
        return dwErr;
    }
    switch (WaitForState(hService.Get(), SERVICE_STOPPED, kLabel)) {
    case WaitOutcome::Reached:
        GLIM_LOG('D', kLabel, L"Stop service success.");
        return ERROR_SUCCESS;
    case WaitOutcome::TimedOut:
        GLIM_LOG('E', kLabel, L"Service not stopped after %dms.", static_cast<int>(kStateWaitLimitMs));
        return ERROR_TIMEOUT;
    default:
        return ERROR_TIMEOUT;
    }
}
