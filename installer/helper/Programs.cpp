#include "Programs.h"

#include "GlimLog.h"
#include "ScopedHandle.h"

namespace glimsetup {

namespace {

constexpr DWORD kMaxPollMs = 250;
constexpr DWORD kMinPollMs = 10;

std::wstring YesNo(bool b)
{
    return b ? L"yes" : L"no";
}

std::wstring ErrorText(DWORD dwErr)
{
    return L"error " + std::to_wstring(dwErr);
}

glim::CScopedScHandle OpenService(const std::wstring& strName, DWORD dwAccess)
{
    glim::CScopedScHandle hManager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!hManager) {
        GLIM_LOG_LAST_ERROR('E', L"OpenService", L"OpenSCManagerW");
        return glim::CScopedScHandle();
    }
    return glim::CScopedScHandle(OpenServiceW(hManager.Get(), strName.c_str(), dwAccess));
}

bool WriteRecordValue(CVerb* pVerb, const SSetupPlace& place, const wchar_t* pszName, bool bValue)
{
    const DWORD dwValue = bValue ? 1 : 0;
    const LSTATUS status =
        RegSetKeyValueW(place.hRecordRoot, place.strRecordKey.c_str(), pszName, REG_DWORD, &dwValue, sizeof(dwValue));
    if (status == ERROR_SUCCESS)
        return true;
    return pVerb->Fail(L"What ran could not be written down under " + place.strRecordKey + L" (" +
                       ErrorText(static_cast<DWORD>(status)) + L").");
}

// Creates the record's key afresh in the 64-bit view, so no value of an earlier stop remains.
bool StartRecord(CVerb* pVerb, const SSetupPlace& place)
{
    RegDeleteKeyExW(place.hRecordRoot, place.strRecordKey.c_str(), KEY_WOW64_64KEY, 0);
    glim::CScopedKey hKey;
    const LSTATUS status = RegCreateKeyExW(place.hRecordRoot, place.strRecordKey.c_str(), 0, nullptr, 0,
                                           KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, hKey.Put(), nullptr);
    if (status == ERROR_SUCCESS)
        return true;
    return pVerb->Fail(L"The key " + place.strRecordKey + L" could not be created (" +
                       ErrorText(static_cast<DWORD>(status)) + L").");
}

// Reads one 0/1 value of the record; a missing value counts as 0.
bool ReadRecordValue(HKEY hKey, const wchar_t* pszName)
{
    DWORD dwValue = 0;
    DWORD cb = sizeof(dwValue);
    return RegGetValueW(hKey, nullptr, pszName, RRF_RT_REG_DWORD, nullptr, &dwValue, &cb) == ERROR_SUCCESS &&
        dwValue != 0;
}

// Stops the service when it is neither stopped nor missing.
bool StopService(CVerb* pVerb, const SSetupPlace& place)
{
    glim::CScopedScHandle hService(OpenService(place.strServiceName, SERVICE_QUERY_STATUS | SERVICE_STOP));
    if (!hService) {
        const DWORD dwErr = GetLastError();
        if (dwErr == ERROR_SERVICE_DOES_NOT_EXIST)
            return true;
        return pVerb->Fail(L"The service " + place.strServiceName + L" could not be opened (" + ErrorText(dwErr) +
                           L").");
    }
    SERVICE_STATUS status = {};
    if (!QueryServiceStatus(hService.Get(), &status)) {
        const DWORD dwErr = GLIM_LOG_LAST_ERROR('E', L"StopService", L"QueryServiceStatus");
        return pVerb->Fail(L"The state of the service " + place.strServiceName + L" could not be read (" +
                           ErrorText(dwErr) + L").");
    }
    if (status.dwCurrentState == SERVICE_STOPPED)
        return true;
    pVerb->Say(L"Stopping the service " + place.strServiceName);
    if (status.dwCurrentState != SERVICE_STOP_PENDING &&
        !ControlService(hService.Get(), SERVICE_CONTROL_STOP, &status)) {
        const DWORD dwErr = GetLastError();
        // It may have stopped between the query and the control.
        if (dwErr != ERROR_SERVICE_NOT_ACTIVE)
            return pVerb->Fail(L"The service " + place.strServiceName + L" refused to stop (" + ErrorText(dwErr) +
                               L").");
    }
    DWORD dwLast = 0;
    if (!AwaitServiceState(hService.Get(), SERVICE_STOPPED, place.dwServiceWaitMs, &dwLast))
        return pVerb->Fail(L"The service " + place.strServiceName + L" did not stop within " +
                           std::to_wstring(place.dwServiceWaitMs) + L" ms (state " + std::to_wstring(dwLast) + L").");
    return true;
}

// Ends the agent's main instances on this desktop with their own exit command, one after the
// other, each waited for with a bound.
bool EndAgents(CVerb* pVerb, const SSetupPlace& place)
{
    for (int nEnded = 0;; ++nEnded) {
        const HWND hWnd = FindWindowW(nullptr, place.strAgentTitle.c_str());
        if (!hWnd)
            return true;
        if (nEnded >= kMaxAgentsEnded)
            return pVerb->Fail(L"Glimagent keeps running after " + std::to_wstring(kMaxAgentsEnded) +
                               L" exit commands.");
        DWORD dwPid = 0;
        GetWindowThreadProcessId(hWnd, &dwPid);
        pVerb->Say(L"Ending the running Glimagent (process " + std::to_wstring(dwPid) + L")");
        glim::CScopedHandle hProcess(OpenProcess(SYNCHRONIZE, FALSE, dwPid));
        if (!hProcess) {
            const DWORD dwErr = GLIM_LOG_LAST_ERROR('E', L"EndAgents", L"OpenProcess");
            return pVerb->Fail(L"Glimagent (process " + std::to_wstring(dwPid) + L") cannot be waited for (" +
                               ErrorText(dwErr) + L").");
        }
        if (!PostMessageW(hWnd, WM_COMMAND, glim::kAgentExitCommand, 0))
            GLIM_LOG_LAST_ERROR('W', L"EndAgents", L"PostMessageW");
        if (WaitForSingleObject(hProcess.Get(), place.dwAgentExitMs) != WAIT_OBJECT_0)
            return pVerb->Fail(L"Glimagent (process " + std::to_wstring(dwPid) + L") did not end within " +
                               std::to_wstring(place.dwAgentExitMs) + L" ms.");
    }
}

}  // namespace

DWORD QueryServiceState(const std::wstring& strName)
{
    glim::CScopedScHandle hService(OpenService(strName, SERVICE_QUERY_STATUS));
    SERVICE_STATUS status = {};
    return hService && QueryServiceStatus(hService.Get(), &status) ? status.dwCurrentState : 0;
}

bool AwaitServiceState(SC_HANDLE hService, DWORD dwWanted, DWORD dwTimeoutMs, DWORD* pdwLast)
{
    const ULONGLONG ullDeadline = GetTickCount64() + dwTimeoutMs;
    for (;;) {
        SERVICE_STATUS status = {};
        if (!QueryServiceStatus(hService, &status)) {
            GLIM_LOG_LAST_ERROR('E', L"AwaitServiceState", L"QueryServiceStatus");
            return false;
        }
        *pdwLast = status.dwCurrentState;
        if (status.dwCurrentState == dwWanted)
            return true;
        // A service that stops while it should start will not start by waiting.
        if (dwWanted == SERVICE_RUNNING && status.dwCurrentState == SERVICE_STOPPED)
            return false;
        const ULONGLONG ullNow = GetTickCount64();
        if (ullNow >= ullDeadline)
            return false;
        DWORD dwWait = status.dwWaitHint / 10;
        dwWait = dwWait < kMinPollMs ? kMinPollMs : (dwWait > kMaxPollMs ? kMaxPollMs : dwWait);
        const ULONGLONG ullLeft = ullDeadline - ullNow;
        Sleep(ullLeft < dwWait ? static_cast<DWORD>(ullLeft) : dwWait);
    }
}

bool StartServiceAndWait(CVerb* pVerb, const std::wstring& strName, DWORD dwTimeoutMs)
{
    glim::CScopedScHandle hService(OpenService(strName, SERVICE_QUERY_STATUS | SERVICE_START));
    if (!hService) {
        const DWORD dwErr = GLIM_LOG_LAST_ERROR('E', L"StartServiceAndWait", L"OpenServiceW");
        return pVerb->Fail(L"The service " + strName + L" could not be opened (" + ErrorText(dwErr) + L").");
    }
    if (!StartServiceW(hService.Get(), 0, nullptr)) {
        const DWORD dwErr = GetLastError();
        if (dwErr != ERROR_SERVICE_ALREADY_RUNNING)
            return pVerb->Fail(L"The service " + strName + L" could not be started (" + ErrorText(dwErr) + L").");
    }
    DWORD dwLast = 0;
    if (!AwaitServiceState(hService.Get(), SERVICE_RUNNING, dwTimeoutMs, &dwLast))
        return pVerb->Fail(L"The service " + strName + L" did not start within " + std::to_wstring(dwTimeoutMs) +
                           L" ms (state " + std::to_wstring(dwLast) + L").");
    return true;
}

SVerbResult StopPrograms(const SSetupPlace& place)
{
    CVerb verb;
    // Each finding is written down before it is acted on, so that a stop that fails half-way
    // still leaves the record of what must start again.
    const DWORD dwState = QueryServiceState(place.strServiceName);
    const bool bServiceRuns = dwState != 0 && dwState != SERVICE_STOPPED;
    const bool bAgentRuns = FindWindowW(nullptr, place.strAgentTitle.c_str()) != nullptr;
    if (!StartRecord(&verb, place) || !WriteRecordValue(&verb, place, glim::kServiceWasRunningValue, bServiceRuns) ||
        !WriteRecordValue(&verb, place, glim::kAgentWasRunningValue, bAgentRuns))
        return verb.Take();
    verb.Say(L"Was running: service " + YesNo(bServiceRuns) + L", agent " + YesNo(bAgentRuns));
    if (StopService(&verb, place))
        EndAgents(&verb, place);
    return verb.Take();
}

SVerbResult CheckReplaceable(const std::wstring& strProgramDir)
{
    CVerb verb;
    for (const wchar_t* pszName : glim::kProgramFiles) {
        const std::wstring strPath = strProgramDir + L"\\" + pszName;
        if (GetFileAttributesW(strPath.c_str()) == INVALID_FILE_ATTRIBUTES) {
            const DWORD dwErr = GetLastError();
            if (dwErr == ERROR_FILE_NOT_FOUND || dwErr == ERROR_PATH_NOT_FOUND)
                continue;
        }
        // No sharing at all: any other open of the file, a running image included, refuses it.
        glim::CScopedFile hFile(CreateFileW(strPath.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!hFile) {
            const DWORD dwErr = GLIM_LOG_LAST_ERROR('E', L"CheckReplaceable", L"CreateFileW");
            if (dwErr == ERROR_SHARING_VIOLATION || dwErr == ERROR_LOCK_VIOLATION)
                verb.Fail(strPath + L" is in use and cannot be replaced.");
            else
                verb.Fail(strPath + L" cannot be replaced (" + ErrorText(dwErr) + L").");
            break;
        }
        verb.Say(strPath + L" can be replaced");
    }
    return verb.Take();
}

SVerbResult RestorePrograms(const SSetupPlace& place, const std::function<SVerbResult()>& startAgent)
{
    CVerb verb;
    glim::CScopedKey hKey;
    const LSTATUS status =
        RegOpenKeyExW(place.hRecordRoot, place.strRecordKey.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, hKey.Put());
    if (status == ERROR_FILE_NOT_FOUND) {
        verb.Say(L"No record of stopped programs: nothing to start again");
        return verb.Take();
    }
    if (status != ERROR_SUCCESS) {
        verb.Fail(L"The record " + place.strRecordKey + L" could not be read (" +
                  ErrorText(static_cast<DWORD>(status)) + L").");
        return verb.Take();
    }
    const bool bService = ReadRecordValue(hKey.Get(), glim::kServiceWasRunningValue);
    const bool bAgent = ReadRecordValue(hKey.Get(), glim::kAgentWasRunningValue);
    hKey.Reset();
    verb.Say(L"Starting again: service " + YesNo(bService) + L", agent " + YesNo(bAgent));
    // The record goes whatever happens next: a later run must not start what this one could not.
    const LSTATUS deleted = RegDeleteKeyExW(place.hRecordRoot, place.strRecordKey.c_str(), KEY_WOW64_64KEY, 0);
    if (deleted != ERROR_SUCCESS) {
        verb.Fail(L"The record " + place.strRecordKey + L" could not be deleted (" +
                  ErrorText(static_cast<DWORD>(deleted)) + L").");
        return verb.Take();
    }
    if (bService) {
        verb.Say(L"Starting the service " + place.strServiceName + L" again");
        if (!StartServiceAndWait(&verb, place.strServiceName, place.dwServiceWaitMs))
            return verb.Take();
    }
    if (bAgent)
        verb.Adopt(startAgent());
    return verb.Take();
}

}  // namespace glimsetup
