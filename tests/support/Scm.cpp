#include "Scm.h"

#include "Wait.h"

namespace glimtest {
namespace {

constexpr DWORD kPollMs = 50;

bool QueryStatus(SC_HANDLE hService, SERVICE_STATUS_PROCESS* pStatus)
{
    DWORD dwNeeded = 0;
    return QueryServiceStatusEx(hService, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(pStatus), sizeof(*pStatus),
                                &dwNeeded) != FALSE;
}

DWORD ExitCodeOf(const SERVICE_STATUS_PROCESS& status)
{
    if (status.dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR)
        return status.dwServiceSpecificExitCode ? status.dwServiceSpecificExitCode : ERROR_SERVICE_SPECIFIC_ERROR;
    return status.dwWin32ExitCode ? status.dwWin32ExitCode : ERROR_SERVICE_NEVER_STARTED;
}

}  // namespace

CScHandle OpenManager(DWORD dwAccess)
{
    return CScHandle(OpenSCManagerW(nullptr, nullptr, dwAccess));
}

CScHandle OpenServiceHandle(const wchar_t* pszName, DWORD dwAccess)
{
    CScHandle hManager = OpenManager(SC_MANAGER_CONNECT);
    if (!hManager)
        return CScHandle();
    return CScHandle(OpenServiceW(hManager.Get(), pszName, dwAccess));
}

DWORD ScmQueryState(const wchar_t* pszName, DWORD* pdwErr)
{
    CScHandle hService = OpenServiceHandle(pszName, SERVICE_QUERY_STATUS);
    SERVICE_STATUS_PROCESS status = {};
    const bool bOk = hService && QueryStatus(hService.Get(), &status);
    if (pdwErr)
        *pdwErr = bOk ? ERROR_SUCCESS : GetLastError();
    return bOk ? status.dwCurrentState : 0;
}

DWORD ScmWaitForState(const wchar_t* pszName, DWORD dwState, DWORD dwTimeoutMs)
{
    CScHandle hService = OpenServiceHandle(pszName, SERVICE_QUERY_STATUS);
    if (!hService)
        return GetLastError();
    DWORD dwResult = ERROR_TIMEOUT;
    WaitUntil(
        [&] {
            SERVICE_STATUS_PROCESS status = {};
            if (!QueryStatus(hService.Get(), &status)) {
                dwResult = GetLastError();
                return true;
            }
            if (status.dwCurrentState == dwState) {
                dwResult = ERROR_SUCCESS;
                return true;
            }
            if (dwState == SERVICE_RUNNING && status.dwCurrentState == SERVICE_STOPPED) {
                dwResult = ExitCodeOf(status);
                return true;
            }
            return false;
        },
        dwTimeoutMs, kPollMs);
    return dwResult;
}

DWORD ScmInstall(const SServiceConfig& config, DWORD dwTimeoutMs)
{
    DWORD dwErr = ScmRemove(config.name.c_str(), dwTimeoutMs);
    if (dwErr)
        return dwErr;
    CScHandle hManager = OpenManager(SC_MANAGER_CREATE_SERVICE | SC_MANAGER_CONNECT);
    if (!hManager)
        return GetLastError();
    const std::wstring& display = config.displayName.empty() ? config.name : config.displayName;
    CScHandle hService(CreateServiceW(hManager.Get(), config.name.c_str(), display.c_str(), SERVICE_ALL_ACCESS,
                                      config.dwType, config.dwStartType, SERVICE_ERROR_NORMAL,
                                      config.binaryPath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    return hService ? ERROR_SUCCESS : GetLastError();
}

DWORD ScmStart(const wchar_t* pszName, DWORD dwTimeoutMs)
{
    CScHandle hService = OpenServiceHandle(pszName, SERVICE_START | SERVICE_QUERY_STATUS);
    if (!hService)
        return GetLastError();
    const ULONGLONG ullStart = GetTickCount64();
    DWORD dwErr = ERROR_SUCCESS;
    WaitUntil(
        [&] {
            dwErr = StartServiceW(hService.Get(), 0, nullptr) ? ERROR_SUCCESS : GetLastError();
            if (dwErr == ERROR_SERVICE_ALREADY_RUNNING)
                dwErr = ERROR_SUCCESS;
            // Wine's service manager now and then fails the process start with 1359, as
            // CreateProcess does (see ProcessStart.h): a retry gets through.
            return dwErr != ERROR_SERVICE_REQUEST_TIMEOUT && dwErr != ERROR_SERVICE_DATABASE_LOCKED &&
                dwErr != ERROR_INTERNAL_ERROR;
        },
        dwTimeoutMs, kPollMs);
    if (dwErr)
        return dwErr;
    const ULONGLONG ullSpent = GetTickCount64() - ullStart;
    return ScmWaitForState(pszName, SERVICE_RUNNING,
                           ullSpent < dwTimeoutMs ? static_cast<DWORD>(dwTimeoutMs - ullSpent) : 0);
}

DWORD ScmChangeType(const wchar_t* pszName, DWORD dwType)
{
    CScHandle hService = OpenServiceHandle(pszName, SERVICE_CHANGE_CONFIG);
    if (!hService)
        return GetLastError();
    if (!ChangeServiceConfigW(hService.Get(), dwType, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, nullptr, nullptr, nullptr,
                              nullptr, nullptr, nullptr, nullptr))
        return GetLastError();
    return ERROR_SUCCESS;
}

DWORD ScmStop(const wchar_t* pszName, DWORD dwTimeoutMs)
{
    CScHandle hService = OpenServiceHandle(pszName, SERVICE_STOP | SERVICE_QUERY_STATUS);
    if (!hService) {
        const DWORD dwErr = GetLastError();
        return dwErr == ERROR_SERVICE_DOES_NOT_EXIST ? ERROR_SUCCESS : dwErr;
    }
    SERVICE_STATUS status = {};
    if (!ControlService(hService.Get(), SERVICE_CONTROL_STOP, &status)) {
        const DWORD dwErr = GetLastError();
        // Not running (yet or any more): wait for it to settle as stopped below.
        if (dwErr != ERROR_SERVICE_NOT_ACTIVE && dwErr != ERROR_SERVICE_CANNOT_ACCEPT_CTRL)
            return dwErr;
    }
    return ScmWaitForState(pszName, SERVICE_STOPPED, dwTimeoutMs);
}

DWORD ScmRemove(const wchar_t* pszName, DWORD dwTimeoutMs)
{
    DWORD dwErr = ScmStop(pszName, dwTimeoutMs);
    if (dwErr)
        return dwErr;
    {
        CScHandle hService = OpenServiceHandle(pszName, DELETE);
        if (!hService) {
            dwErr = GetLastError();
            return dwErr == ERROR_SERVICE_DOES_NOT_EXIST ? ERROR_SUCCESS : dwErr;
        }
        if (!DeleteService(hService.Get()) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE)
            return GetLastError();
    }
    // Deletion completes once every handle is closed; until then a new service of the same
    // name cannot be created.
    const bool bGone = WaitUntil(
        [&] {
            CScHandle hService = OpenServiceHandle(pszName, SERVICE_QUERY_STATUS);
            return !hService && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
        },
        dwTimeoutMs, kPollMs);
    return bGone ? ERROR_SUCCESS : ERROR_TIMEOUT;
}

CServiceInstall::~CServiceInstall()
{
    Remove();
}

DWORD CServiceInstall::Install(const SServiceConfig& config, DWORD dwTimeoutMs)
{
    const DWORD dwErr = glimtest::ScmInstall(config, dwTimeoutMs);
    if (!dwErr)
        m_name = config.name;
    return dwErr;
}

DWORD CServiceInstall::Start(DWORD dwTimeoutMs) const
{
    return Owns() ? glimtest::ScmStart(m_name.c_str(), dwTimeoutMs) : ERROR_SERVICE_DOES_NOT_EXIST;
}

DWORD CServiceInstall::Stop(DWORD dwTimeoutMs) const
{
    return Owns() ? glimtest::ScmStop(m_name.c_str(), dwTimeoutMs) : ERROR_SERVICE_DOES_NOT_EXIST;
}

DWORD CServiceInstall::Remove(DWORD dwTimeoutMs)
{
    if (!Owns())
        return ERROR_SUCCESS;
    const DWORD dwErr = glimtest::ScmRemove(m_name.c_str(), dwTimeoutMs);
    if (!dwErr)
        m_name.clear();
    return dwErr;
}

}  // namespace glimtest
