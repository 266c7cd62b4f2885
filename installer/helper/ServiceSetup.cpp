#include "ServiceSetup.h"

#include <vector>

#include "GlimLog.h"
#include "ScopedHandle.h"
#include "ServiceRecovery.h"

namespace glimsetup {

namespace {

constexpr DWORD kVerbTimeoutMs = 60000;
constexpr DWORD kRemoveWaitMs = 5000;
constexpr DWORD kPollMs = 100;

std::wstring ErrorText(DWORD dwErr)
{
    return L"error " + std::to_wstring(dwErr);
}

std::wstring ServiceProgram(const std::wstring& strProgramDir)
{
    return strProgramDir + L"\\" + glim::kServiceProgramFile;
}

glim::CScopedScHandle OpenService(const std::wstring& strName, DWORD dwAccess)
{
    glim::CScopedScHandle hManager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!hManager)
        return glim::CScopedScHandle();
    return glim::CScopedScHandle(OpenServiceW(hManager.Get(), strName.c_str(), dwAccess));
}

// The registered command line, empty when it cannot be read.
std::wstring RegisteredBinaryPath(const std::wstring& strName)
{
    glim::CScopedScHandle hService(OpenService(strName, SERVICE_QUERY_CONFIG));
    DWORD cbNeeded = 0;
    if (!hService ||
        (!QueryServiceConfigW(hService.Get(), nullptr, 0, &cbNeeded) && GetLastError() != ERROR_INSUFFICIENT_BUFFER))
        return std::wstring();
    std::vector<BYTE> buffer(cbNeeded);
    auto* pConfig = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (cbNeeded == 0 || !QueryServiceConfigW(hService.Get(), pConfig, cbNeeded, &cbNeeded) ||
        !pConfig->lpBinaryPathName)
        return std::wstring();
    return pConfig->lpBinaryPathName;
}

bool ExpectState(CVerb* pVerb, const std::wstring& strName, DWORD dwWanted, const wchar_t* pszWhat)
{
    const DWORD dwState = QueryServiceState(strName);
    if (dwState == dwWanted)
        return true;
    return pVerb->Fail(std::wstring(pszWhat) + L" (service state " + std::to_wstring(dwState) + L").");
}

// Waits, bounded, until the manager no longer knows the service; hands back the last state.
DWORD AwaitGone(const std::wstring& strName, DWORD dwTimeoutMs)
{
    const ULONGLONG ullDeadline = GetTickCount64() + dwTimeoutMs;
    DWORD dwState = QueryServiceState(strName);
    while (dwState != 0 && GetTickCount64() < ullDeadline) {
        Sleep(kPollMs);
        dwState = QueryServiceState(strName);
    }
    return dwState;
}

// The manager marks a deleted service that is still open with DeleteFlag and refuses any
// change to it with ERROR_SERVICE_MARKED_FOR_DELETE (a change that changes nothing asks).
bool IsMarkedForDeletion(const std::wstring& strName)
{
    DWORD dwFlag = 0;
    DWORD cb = sizeof(dwFlag);
    const std::wstring strKey = L"SYSTEM\\CurrentControlSet\\Services\\" + strName;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, strKey.c_str(), L"DeleteFlag", RRF_RT_REG_DWORD, nullptr, &dwFlag, &cb) ==
            ERROR_SUCCESS &&
        dwFlag == 1)
        return true;
    glim::CScopedScHandle hService(OpenService(strName, SERVICE_CHANGE_CONFIG));
    if (!hService)
        return GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE;
    return !ChangeServiceConfigW(hService.Get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, nullptr,
                                 nullptr, nullptr, nullptr, nullptr, nullptr, nullptr) &&
        GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE;
}

std::wstring Seconds(DWORD dwMs)
{
    return std::to_wstring(dwMs / 1000) + L" s";
}

}  // namespace

ServiceVerbRunner ServiceProgramRunner(const std::wstring& strProgramDir)
{
    return [strProgramDir](CVerb* pVerb, const wchar_t* pszVerb) {
        const std::wstring strProgram = ServiceProgram(strProgramDir);
        // The verb is read from the second word of the command line.
        std::wstring strCommandLine = L"\"" + strProgram + L"\" x " + pszVerb;
        pVerb->Say(L"Glimward.exe x " + std::wstring(pszVerb));
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info = {};
        if (!CreateProcessW(strProgram.c_str(), &strCommandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                            strProgramDir.c_str(), &startup, &info)) {
            const DWORD dwErr = GLIM_LOG_LAST_ERROR('E', L"ServiceProgramRunner", L"CreateProcessW");
            return pVerb->Fail(L"Glimward.exe could not run its verb " + std::wstring(pszVerb) + L" (" +
                               ErrorText(dwErr) + L").");
        }
        const glim::CScopedHandle hProcess(info.hProcess);
        const glim::CScopedHandle hThread(info.hThread);
        if (WaitForSingleObject(hProcess.Get(), kVerbTimeoutMs) != WAIT_OBJECT_0) {
            // Nothing of the setup is left running behind it.
            if (!TerminateProcess(hProcess.Get(), ERROR_TIMEOUT))
                GLIM_LOG_LAST_ERROR('W', L"ServiceProgramRunner", L"TerminateProcess");
            return pVerb->Fail(L"Glimward.exe did not end its verb " + std::wstring(pszVerb) + L" within " +
                               std::to_wstring(kVerbTimeoutMs) + L" ms.");
        }
        return true;
    };
}

ServicePlan PlanServiceInstall(bool bRegistered, bool bSameImage)
{
    if (!bRegistered)
        return ServicePlan::Install;
    return bSameImage ? ServicePlan::KeepAndRecover : ServicePlan::ReplaceAndInstall;
}

bool IsImageOf(const std::wstring& strBinaryPath, const std::wstring& strProgramDir)
{
    const std::wstring strBase = L"\"" + strProgramDir + L"\\Glimward";
    for (const std::wstring& strImage : {strBase + L"\"", strBase + L".exe\""}) {
        if (CompareStringOrdinal(strBinaryPath.c_str(), -1, strImage.c_str(), -1, TRUE) == CSTR_EQUAL)
            return true;
    }
    return false;
}

SVerbResult SetServiceRecovery(const SSetupPlace& place)
{
    CVerb verb;
    verb.Say(L"Setting the service's recovery: restart after " + Seconds(glim::kRecoveryDelaysMs[0]) + L", " +
             Seconds(glim::kRecoveryDelaysMs[1]) + L", " + Seconds(glim::kRecoveryDelaysMs[2]) + L"; reset after " +
             std::to_wstring(glim::kRecoveryResetSeconds) + L" s");
    // Restart actions need SERVICE_START as well as SERVICE_CHANGE_CONFIG.
    glim::CScopedScHandle hService(OpenService(place.strServiceName, SERVICE_CHANGE_CONFIG | SERVICE_START));
    if (!hService) {
        verb.Fail(L"The service " + place.strServiceName + L" could not be opened to set its recovery (" +
                  ErrorText(GetLastError()) + L").");
        return verb.Take();
    }
    const DWORD dwErr = glim::ConfigureRecovery(hService.Get());
    if (dwErr != ERROR_SUCCESS) {
        verb.Fail(L"The service's recovery could not be set (" + ErrorText(dwErr) + L").");
        return verb.Take();
    }
    const DWORD dwFlagErr = glim::ConfigureRecoveryOnErrors(hService.Get());
    if (dwFlagErr == ERROR_SUCCESS)
        verb.Say(L"The failure actions flag is set: a stop with an error is restarted too");
    else
        verb.Say(L"The failure actions flag could not be set (" + ErrorText(dwFlagErr) + L")");
    return verb.Take();
}

SVerbResult InstallService(const SSetupPlace& place, const ServiceVerbRunner& runVerb)
{
    CVerb verb;
    const std::wstring& strName = place.strServiceName;
    const bool bRegistered = QueryServiceState(strName) != 0;
    const std::wstring strBinaryPath = bRegistered ? RegisteredBinaryPath(strName) : std::wstring();
    switch (PlanServiceInstall(bRegistered, IsImageOf(strBinaryPath, place.strProgramDir))) {
    case ServicePlan::ReplaceAndInstall:
        verb.Say(L"Removing the service registered for " + strBinaryPath);
        if (!runVerb(&verb, L"-U") ||
            !ExpectState(&verb, strName, 0, L"The old service registration could not be removed"))
            return verb.Take();
        [[fallthrough]];  // a fresh registration follows
    case ServicePlan::Install:
        verb.Say(L"Installing the service");
        if (!runVerb(&verb, L"-I") ||
            !ExpectState(&verb, strName, SERVICE_STOPPED, L"The service could not be installed"))
            return verb.Take();
        break;
    case ServicePlan::KeepAndRecover:
        if (!verb.Adopt(SetServiceRecovery(place)))
            return verb.Take();
        break;
    }
    verb.Say(L"Starting the service");
    StartServiceAndWait(&verb, strName, place.dwServiceWaitMs);
    return verb.Take();
}

SVerbResult RemoveService(const SSetupPlace& place, const ServiceVerbRunner& runVerb)
{
    CVerb verb;
    const std::wstring& strName = place.strServiceName;
    if (QueryServiceState(strName) == 0) {
        verb.Say(L"The service " + strName + L" is not registered");
        return verb.Take();
    }
    const std::wstring strProgram = ServiceProgram(place.strProgramDir);
    if (GetFileAttributesW(strProgram.c_str()) == INVALID_FILE_ATTRIBUTES) {
        verb.Fail(L"The service is registered but " + strProgram + L" is missing.");
        return verb.Take();
    }
    verb.Say(L"Stopping and removing the service");
    if (!runVerb(&verb, L"-U"))
        return verb.Take();
    // A deleted service stays registered until its last handle (a services console, say) is
    // closed: the manager marks it with DeleteFlag meanwhile.
    const DWORD dwState = AwaitGone(strName, kRemoveWaitMs);
    if (dwState == 0)
        return verb.Take();
    if (IsMarkedForDeletion(strName))
        verb.Say(L"The service goes away once the last program that holds it open lets go");
    else
        verb.Fail(L"The service could not be removed (service state " + std::to_wstring(dwState) + L").");
    return verb.Take();
}

}  // namespace glimsetup
