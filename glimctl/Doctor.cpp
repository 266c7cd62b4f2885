#include "Doctor.h"

#include <aclapi.h>
#include <sddl.h>
#include <softpub.h>
#include <wintrust.h>

#include "CtlSettings.h"
#include "DeviceProtocol.h"
#include "GlimNames.h"
#include "InstallLayout.h"
#include "ProgramFiles.h"
#include "ScopedHandle.h"
#include "SharedTrust.h"
#include "Win32Compat.h"

#include <powrprof.h>

namespace glimctl {

namespace {

using glim::CScopedFile;
using glim::CScopedHandle;
using glim::CScopedKey;
using glim::CScopedScHandle;

class CChecks {
public:
    explicit CChecks(std::vector<SCheck>* pChecks) : m_pChecks(pChecks) {}
    void Add(const wchar_t* pszId, const wchar_t* pszItem, Verdict verdict, const std::wstring& strDetail,
             const std::wstring& strAction = std::wstring())
    {
        m_pChecks->push_back({pszId, pszItem, verdict, strDetail, verdict == Verdict::Fail ? strAction : L""});
    }
    void Check(const wchar_t* pszId, const wchar_t* pszItem, bool bPass, const std::wstring& strDetail,
               const std::wstring& strAction)
    {
        Add(pszId, pszItem, bPass ? Verdict::Pass : Verdict::Fail, strDetail, strAction);
    }

private:
    std::vector<SCheck>* m_pChecks;
};

bool SameText(const std::wstring& a, const std::wstring& b)
{
    return _wcsicmp(a.c_str(), b.c_str()) == 0;
}

bool Exists(const std::wstring& strPath)
{
    return GetFileAttributesW(strPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring Hex(LONG lValue)
{
    wchar_t sz[16] = {};
    swprintf(sz, 16, L"0x%08lX", static_cast<unsigned long>(lValue));
    return sz;
}

const wchar_t* StateName(DWORD dwState)
{
    switch (dwState) {
    case SERVICE_STOPPED: return L"stopped";
    case SERVICE_START_PENDING: return L"starting";
    case SERVICE_STOP_PENDING: return L"stopping";
    case SERVICE_RUNNING: return L"running";
    case SERVICE_PAUSED: return L"paused";
    default: return L"in transition";
    }
}

// ---- the service ----

DWORD ServiceProcess(SC_HANDLE hService, SERVICE_STATUS_PROCESS* pStatus)
{
    DWORD cbNeeded = 0;
    return QueryServiceStatusEx(hService, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(pStatus), sizeof(*pStatus),
                                &cbNeeded)
        ? ERROR_SUCCESS
        : GetLastError();
}

void CheckRecovery(SC_HANDLE hService, CChecks& checks)
{
    const wchar_t* pszId = L"service.recovery";
    const wchar_t* pszItem = L"service recovery configured";
    DWORD cbNeeded = 0;
    QueryServiceConfig2W(hService, SERVICE_CONFIG_FAILURE_ACTIONS, nullptr, 0, &cbNeeded);
    std::vector<BYTE> buffer(cbNeeded > sizeof(SERVICE_FAILURE_ACTIONSW) ? cbNeeded : sizeof(SERVICE_FAILURE_ACTIONSW));
    if (!QueryServiceConfig2W(hService, SERVICE_CONFIG_FAILURE_ACTIONS, buffer.data(),
                              static_cast<DWORD>(buffer.size()), &cbNeeded)) {
        const DWORD dwError = GetLastError();
        if (dwError == ERROR_INVALID_LEVEL || dwError == ERROR_NOT_SUPPORTED || dwError == ERROR_CALL_NOT_IMPLEMENTED)
            checks.Add(pszId, pszItem, Verdict::Skip,
                       L"the platform does not report a service's recovery actions (" + ErrorText(dwError) + L")");
        else
            checks.Add(pszId, pszItem, Verdict::Fail, L"cannot read the recovery actions (" + ErrorText(dwError) + L")",
                       kReinstall);
        return;
    }
    const auto* pActions = reinterpret_cast<const SERVICE_FAILURE_ACTIONSW*>(buffer.data());
    checks.Check(pszId, pszItem, IsInstalledRecovery(*pActions),
                 IsInstalledRecovery(*pActions)
                     ? L"restart after 5 s, 30 s, 60 s; reset after one day"
                     : L"not the installed restart after 5 s, 30 s, 60 s (" + std::to_wstring(pActions->cActions) +
                         L" actions, reset after " + std::to_wstring(pActions->dwResetPeriod) + L" s)",
                 kReinstall);
}

void CheckRecoveryOnErrors(SC_HANDLE hService, CChecks& checks)
{
    const wchar_t* pszId = L"service.recovery_on_errors";
    const wchar_t* pszItem = L"service recovery also after a stop with an error";
    SERVICE_FAILURE_ACTIONS_FLAG flag = {};
    DWORD cbNeeded = 0;
    if (!QueryServiceConfig2W(hService, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, reinterpret_cast<BYTE*>(&flag),
                              sizeof(flag), &cbNeeded)) {
        const DWORD dwError = GetLastError();
        if (dwError == ERROR_INVALID_LEVEL || dwError == ERROR_NOT_SUPPORTED || dwError == ERROR_CALL_NOT_IMPLEMENTED)
            checks.Add(pszId, pszItem, Verdict::Skip,
                       L"the platform does not report the failure actions flag (" + ErrorText(dwError) + L")");
        else
            checks.Add(pszId, pszItem, Verdict::Fail,
                       L"cannot read the failure actions flag (" + ErrorText(dwError) + L")", kReinstall);
        return;
    }
    checks.Check(pszId, pszItem, flag.fFailureActionsOnNonCrashFailures != FALSE,
                 flag.fFailureActionsOnNonCrashFailures ? L"on" : L"off: only a crash restarts the service",
                 L"as an administrator: sc failureflag Glimward 1, or " + std::wstring(kReinstall));
}

// Returns the service's process id (0 when it does not run).
DWORD CheckService(CChecks& checks)
{
    const CScopedScHandle hManager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    CScopedScHandle hService;
    if (hManager)
        hService.Reset(OpenServiceW(hManager.Get(), glim::kServiceName, SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS));
    if (!hService) {
        const DWORD dwError = GetLastError();
        checks.Check(L"service.registered", L"service registered", false,
                     dwError == ERROR_SERVICE_DOES_NOT_EXIST ? L"no service named Glimward"
                                                             : L"cannot open the service (" + ErrorText(dwError) + L")",
                     kReinstall);
        return 0;
    }
    checks.Add(L"service.registered", L"service registered", Verdict::Pass, glim::kServiceName);

    std::vector<BYTE> buffer(8192);
    DWORD cbNeeded = 0;
    auto* pConfig = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (QueryServiceConfigW(hService.Get(), pConfig, static_cast<DWORD>(buffer.size()), &cbNeeded)) {
        const bool bOwn = (pConfig->dwServiceType & SERVICE_WIN32_OWN_PROCESS) != 0 &&
            (pConfig->dwServiceType & SERVICE_WIN32_SHARE_PROCESS) == 0;
        checks.Check(L"service.own_process", L"service in its own process", bOwn,
                     bOwn ? L"own process" : L"type " + Hex(static_cast<LONG>(pConfig->dwServiceType)), kReinstall);
        const std::wstring strAccount = pConfig->lpServiceStartName ? pConfig->lpServiceStartName : L"";
        checks.Check(L"service.localsystem", L"service runs as LocalSystem", SameText(strAccount, L"LocalSystem"),
                     strAccount.empty() ? L"no account" : strAccount, kReinstall);
        checks.Check(L"service.auto_start", L"service starts automatically", pConfig->dwStartType == SERVICE_AUTO_START,
                     pConfig->dwStartType == SERVICE_AUTO_START
                         ? L"automatic"
                         : L"start type " + std::to_wstring(pConfig->dwStartType),
                     L"as an administrator: sc config Glimward start= auto");
        const std::wstring strImage = pConfig->lpBinaryPathName ? pConfig->lpBinaryPathName : L"";
        const std::wstring strService = InstallFolder() + L"\\" + glim::kServiceProgramFile;
        checks.Check(L"service.image_path", L"service image path quoted, the installed program",
                     IsQuotedProgram(strImage, strService), strImage, kReinstall);
    } else {
        checks.Add(L"service.config", L"service configuration", Verdict::Fail,
                   L"cannot read it (" + ErrorText(GetLastError()) + L")", kReinstall);
    }

    SERVICE_STATUS_PROCESS status = {};
    const DWORD dwError = ServiceProcess(hService.Get(), &status);
    const bool bRunning = dwError == ERROR_SUCCESS && status.dwCurrentState == SERVICE_RUNNING;
    checks.Check(L"service.running", L"service running", bRunning,
                 dwError != ERROR_SUCCESS ? ErrorText(dwError) : StateName(status.dwCurrentState),
                 L"as an administrator: sc start Glimward");
    CheckRecovery(hService.Get(), checks);
    CheckRecoveryOnErrors(hService.Get(), checks);
    return bRunning ? status.dwProcessId : 0;
}

// ---- the driver ----

void CheckDevice(CChecks& checks)
{
    const wchar_t* pszId = L"driver.device";
    const wchar_t* pszItem = L"device \\\\.\\ZAREDIZURIZAZA opens and answers the read request";
    INT32 nLevel = 0;
    const DWORD dwError = ReadDeviceLevel(&nLevel);
    checks.Check(pszId, pszItem, dwError == ERROR_SUCCESS,
                 dwError == ERROR_SUCCESS       ? L"level " + std::to_wstring(nLevel)
                     : dwError == ERROR_NO_DATA ? L"opens, but the read request returns nothing"
                                                : L"does not open (" + ErrorText(dwError) + L")",
                 L"install or repair the laptop maker's keyboard (hotkey) driver, then restart");
}

// A process of some running service, or 0: while Glimward does not run, where it would run is
// the session every service runs in.
DWORD AnyRunningServiceProcess()
{
    const CScopedScHandle hManager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE));
    DWORD cbNeeded = 0;
    DWORD dwCount = 0;
    DWORD dwResume = 0;
    if (!hManager)
        return 0;
    EnumServicesStatusExW(hManager.Get(), SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_ACTIVE, nullptr, 0, &cbNeeded,
                          &dwCount, &dwResume, nullptr);
    std::vector<BYTE> buffer(cbNeeded);
    dwResume = 0;
    if (cbNeeded == 0 ||
        !EnumServicesStatusExW(hManager.Get(), SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_ACTIVE, buffer.data(),
                               cbNeeded, &cbNeeded, &dwCount, &dwResume, nullptr))
        return 0;
    const auto* pServices = reinterpret_cast<const ENUM_SERVICE_STATUS_PROCESSW*>(buffer.data());
    for (DWORD i = 0; i < dwCount; ++i) {
        if (pServices[i].ServiceStatusProcess.dwProcessId)
            return pServices[i].ServiceStatusProcess.dwProcessId;
    }
    return 0;
}

// An event another process made first could take presses; the service refuses to start with
// one, and the one it serves grants SYSTEM and Administrators only. Looked at whether or not
// the service runs: a squatter keeps it from starting.
void CheckHotkeyEventSecurity(HANDLE hEvent, DWORD dwOpenError, CChecks& checks)
{
    const wchar_t* pszId = L"driver.hotkey_event_security";
    const wchar_t* pszItem = L"\"event_hwap\" is the service's own (SYSTEM and Administrators only)";
    if (dwOpenError == ERROR_ACCESS_DENIED) {
        checks.Add(pszId, pszItem, Verdict::Pass, L"this user may not open it");
        return;
    }
    if (!hEvent) {
        checks.Add(pszId, pszItem, Verdict::Skip, L"there is no event to examine");
        return;
    }
    std::wstring strOwner;
    const bool bOwn = glim::IsObjectSystemAndAdministratorsOnly(hEvent, &strOwner);
    checks.Check(pszId, pszItem, bOwn,
                 bOwn ? L"the service's own" : L"made by another process (owner " + strOwner + L")",
                 L"end the program that made it (sign out, or restart Windows), then as an administrator: "
                 L"sc start Glimward");
}

// The service's objects live in its session's namespace: session 0's is the global one.
void CheckHotkeyEvent(DWORD dwServicePid, CChecks& checks)
{
    const wchar_t* pszId = L"driver.hotkey_event";
    const wchar_t* pszItem = L"\"event_hwap\" exists";
    DWORD dwServiceSession = 0;
    DWORD dwOwnSession = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &dwOwnSession);
    if (!ProcessIdToSessionId(dwServicePid ? dwServicePid : AnyRunningServiceProcess(), &dwServiceSession))
        dwServiceSession = 0;  // where services run
    std::wstring strName = glim::kEventHotkey;
    if (dwServiceSession == 0 && dwOwnSession != 0) {
        strName = L"Global\\" + strName;
    } else if (dwServiceSession != dwOwnSession) {
        checks.Add(pszId, pszItem, Verdict::Skip,
                   L"the service runs in session " + std::to_wstring(dwServiceSession) +
                       L", whose objects this session cannot name");
        return;
    }
    const CScopedHandle hEvent(OpenEventW(SYNCHRONIZE | READ_CONTROL, FALSE, strName.c_str()));
    const DWORD dwError = hEvent ? ERROR_SUCCESS : GetLastError();
    if (!dwServicePid) {
        checks.Check(pszId, pszItem, false, L"the service does not run, and it creates the event",
                     L"as an administrator: sc start Glimward");
    } else {
        // Only SYSTEM and Administrators may open it for signalling; denied means it is there.
        checks.Check(pszId, pszItem, dwError == ERROR_SUCCESS || dwError == ERROR_ACCESS_DENIED,
                     dwError == ERROR_SUCCESS             ? strName
                         : dwError == ERROR_ACCESS_DENIED ? strName + L" (exists; only the system may open it)"
                                                          : strName + L": " + ErrorText(dwError),
                     L"restart the service (as an administrator: sc stop Glimward, then sc start Glimward)");
    }
    CheckHotkeyEventSecurity(hEvent.Get(), dwError, checks);
}

// ---- the agent ----

void CheckAgent(CChecks& checks)
{
    const std::wstring strAgent = glim::kAgentProgramPath;
    const std::wstring strStart = L"start \"" + strAgent + L"\", or sign out and in again";
    const HWND hWnd = FindWindowW(nullptr, glim::kAgentWindowTitle);
    DWORD dwPid = 0;
    if (hWnd)
        GetWindowThreadProcessId(hWnd, &dwPid);
    DWORD dwAgentSession = 0;
    DWORD dwOwnSession = 0;
    const bool bHere = dwPid && ProcessIdToSessionId(dwPid, &dwAgentSession) &&
        ProcessIdToSessionId(GetCurrentProcessId(), &dwOwnSession) && dwAgentSession == dwOwnSession;
    checks.Check(L"agent.main_instance", L"agent main instance runs in this session", bHere,
                 bHere ? L"process " + std::to_wstring(dwPid) : L"no main window in this session", strStart);
    if (!bHere) {
        checks.Add(L"agent.main_path", L"agent runs from the installed path", Verdict::Skip, L"no main instance runs");
    } else {
        const CScopedHandle hProcess(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, dwPid));
        wchar_t szImage[MAX_PATH] = {};
        DWORD cch = MAX_PATH;
        const bool bImage = hProcess && QueryFullProcessImageNameW(hProcess.Get(), 0, szImage, &cch);
        checks.Check(L"agent.main_path", L"agent runs from the installed path", bImage && SameText(szImage, strAgent),
                     bImage ? std::wstring(szImage) : L"cannot read its image (" + ErrorText(GetLastError()) + L")",
                     L"end that agent and " + strStart);
    }

    CScopedKey hKey;
    wchar_t szValue[1024] = {};
    DWORD cbValue = sizeof(szValue) - sizeof(wchar_t);
    DWORD dwType = 0;
    LONG lError = RegOpenKeyExW(HKEY_LOCAL_MACHINE, glim::kRunKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, hKey.Put());
    if (lError == ERROR_SUCCESS)
        lError =
            RegQueryValueExW(hKey.Get(), glim::kRunValue, nullptr, &dwType, reinterpret_cast<BYTE*>(szValue), &cbValue);
    const bool bString = lError == ERROR_SUCCESS && (dwType == REG_SZ || dwType == REG_EXPAND_SZ);
    checks.Check(L"agent.run_value", L"logon start (HKLM Run value Glimagent) present and quoted",
                 bString && IsQuotedProgram(szValue, strAgent),
                 lError != ERROR_SUCCESS ? L"missing (" + ErrorText(static_cast<DWORD>(lError)) + L")"
                     : bString           ? std::wstring(szValue)
                                         : L"not a string value",
                 kReinstall);
}

// ---- the settings ----

void CheckSettings(CChecks& checks)
{
    const std::wstring strFile = SettingsFilePath();
    const std::wstring strFolder = SettingsFolderPath();
    const DWORD dwFolder = strFolder.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(strFolder.c_str());
    const bool bFolder = dwFolder != INVALID_FILE_ATTRIBUTES && (dwFolder & FILE_ATTRIBUTE_DIRECTORY);
    checks.Check(L"settings.folder", L"settings folder exists", bFolder,
                 strFolder.empty() ? L"ALLUSERSPROFILE is not set" : strFolder + (bFolder ? L"" : L" is missing"),
                 kReinstall);
    if (!bFolder)
        return;

    // A link in place of the folder (or its vendor folder) would lead the service's writes elsewhere.
    std::wstring strLinks;
    for (const std::wstring& strPath : {strFolder.substr(0, strFolder.find_last_of(L'\\')), strFolder}) {
        if (GetFileAttributesW(strPath.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT)
            strLinks += (strLinks.empty() ? L"" : L", ") + strPath;
    }
    checks.Check(L"settings.reparse", L"settings folder is not a link (reparse point)", strLinks.empty(),
                 strLinks.empty() ? L"plain folders" : L"a link: " + strLinks,
                 L"remove the link, then " + std::wstring(kReinstall));

    std::wstring strDetail;
    const Verdict folderRights = CompareRights(strFolder, glim::kDataFolderSddl, &strDetail);
    checks.Add(L"settings.folder_rights", L"settings folder rights are the installed ones", folderRights, strDetail,
               kReinstall);

    std::string strBytes;
    DWORD dwError = ERROR_SUCCESS;
    const bool bRead = ReadFileBytes(strFile, &strBytes, &dwError);
    checks.Check(L"settings.file", L"settings file exists", bRead,
                 bRead ? strFile : strFile + L": " + ErrorText(dwError), kReinstall);
    if (!bRead)
        return;
    // The service reads and writes the file as SYSTEM only when it is the plain file at its path.
    glim::CScopedFile hChecked;
    const glim::FileTrust trust = glim::OpenAndJudgeFile(strFile.c_str(), hChecked.Put());
    checks.Check(L"settings.file_link", L"settings file is a plain file with one name (no link, no hard link)",
                 trust == glim::FileTrust::Plain, strFile + L": " + glim::FileTrustText(trust),
                 L"as an administrator delete " + strFile + L" (the service does not use it while it is " +
                     L"a link), then " + std::wstring(kReinstall));
    hChecked.Reset();
    const SSettingsForm form = ClassifySettingsBytes(strBytes);
    checks.Check(L"settings.encoding", L"settings file is UTF-16 with a BOM and a [Glimkit] section",
                 form.bUtf16Bom && form.bSection,
                 std::wstring(form.bUtf16Bom ? L"UTF-16LE with BOM" : L"not UTF-16 (ANSI)") +
                     (form.bSection ? L", [Glimkit] present" : L", no [Glimkit] section"),
                 L"values such as \"5分\" need UTF-16: " + std::wstring(kReinstall) +
                     L" after saving the file elsewhere, then set the options again");
    const Verdict fileRights = CompareRights(strFile, glim::kSettingsFileSddl, &strDetail);
    checks.Add(L"settings.file_rights", L"settings file rights are the installed ones", fileRights, strDetail,
               kReinstall);
}

// ---- the programs ----

void CheckPrograms(CChecks& checks)
{
    std::vector<SProgramSeen> programs;
    for (const std::wstring& strProgram : InstalledPrograms()) {
        SProgramSeen seen;
        seen.strPath = strProgram;
        seen.bPresent = Exists(strProgram);
        seen.bNeedsUiAccess = SameText(strProgram, glim::kAgentProgramPath);
        if (seen.bPresent) {
            seen.strVersion = FileVersion(strProgram);
            seen.lTrust = VerifySignature(strProgram);
            seen.bAsksUiAccess = seen.bNeedsUiAccess && ManifestAsksUiAccess(ManifestOf(strProgram));
        }
        programs.push_back(seen);
    }
    for (const SCheck& check : JudgePrograms(programs))
        checks.Add(check.strId.c_str(), check.strItem.c_str(), check.verdict, check.strDetail, check.strAction);
}

// ---- the logs ----

void CheckLogs(CChecks& checks)
{
    bool bEnabled = false;
    const std::wstring strPath = AgentLogPath(&bEnabled);
    const std::wstring strKey = L"HKLM\\" + std::wstring(glim::kAgentLogRegKey);
    if (!bEnabled) {
        checks.Add(L"logs.agent", L"agent log", Verdict::Pass,
                   L"off (to switch it on: " + strKey + L", enabled=1 and logpath=the file's full path)");
    } else {
        const std::wstring strFolder = strPath.substr(0, strPath.find_last_of(L'\\'));
        checks.Check(L"logs.agent", L"agent log", Exists(strFolder), L"on: " + strPath,
                     L"create the folder " + strFolder + L" or set another logpath under " + strKey);
    }
    const bool bServiceLog = Exists(glim::kServiceLogPath);
    checks.Add(L"logs.service", L"service log", Verdict::Pass,
               bServiceLog ? std::wstring(L"on: ") + glim::kServiceLogPath
                           : std::wstring(L"off (to switch it on, as an administrator create the empty file ") +
                       glim::kServiceLogPath + L")");
}

}  // namespace

DWORD ReadDeviceLevel(INT32* pnLevel)
{
    const CScopedFile hDevice(CreateFileW(glim::kDevicePath, GENERIC_READ | GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!hDevice)
        return GetLastError();
    INT32 nIn = 0;
    DWORD cbReturned = 0;
    // As the programs judge it: only the byte count tells success.
    DeviceIoControl(hDevice.Get(), IOCTL_KBBL_GET_BRIGHTNESS, &nIn, sizeof(nIn), pnLevel, sizeof(*pnLevel), &cbReturned,
                    nullptr);
    return cbReturned > 0 ? ERROR_SUCCESS : ERROR_NO_DATA;
}

DWORD ReadModernStandby(bool* pbModernStandby)
{
    SYSTEM_POWER_CAPABILITIES caps = {};
    if (!GetPwrCapabilities(&caps))
        return GetLastError();
    *pbModernStandby = PowerCapabilitiesAoAc(caps) != 0;
    return ERROR_SUCCESS;
}

SCheck RestoreRuleCheck(DWORD dwCapsError, bool bModernStandby)
{
    SCheck check;
    check.strId = L"power.restore";
    check.strItem = L"light restored after wake";
    if (dwCapsError != ERROR_SUCCESS) {
        check.verdict = Verdict::Skip;
        check.strDetail = L"the power capabilities cannot be read (" + ErrorText(dwCapsError) + L")";
        return check;
    }
    check.verdict = Verdict::Pass;
    check.strDetail = bModernStandby
        ? L"Modern Standby: yes, so leaving standby is the display coming on; the service restores " +
            RestoreRuleText(true)
        : L"Modern Standby: no, so every wake for the user is a resume; the service restores " + RestoreRuleText(false);
    return check;
}

std::wstring AgentLogPath(bool* pbEnabled)
{
    CScopedKey hKey;
    DWORD dwEnabled = 0;
    wchar_t szPath[MAX_PATH + 1] = {};
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, glim::kAgentLogRegKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, hKey.Put()) ==
        ERROR_SUCCESS) {
        DWORD cb = sizeof(dwEnabled);
        RegQueryValueExW(hKey.Get(), L"enabled", nullptr, nullptr, reinterpret_cast<BYTE*>(&dwEnabled), &cb);
        cb = sizeof(szPath) - sizeof(wchar_t);
        RegQueryValueExW(hKey.Get(), L"logpath", nullptr, nullptr, reinterpret_cast<BYTE*>(szPath), &cb);
    }
    *pbEnabled = dwEnabled != 0 && szPath[0];
    return szPath;
}

std::wstring InstallFolder()
{
    return glim::kProgramFolder;
}

std::vector<std::wstring> InstalledPrograms()
{
    std::vector<std::wstring> programs;
    for (const wchar_t* pszName : glim::kProgramFiles)
        programs.push_back(InstallFolder() + L"\\" + pszName);
    return programs;
}

LONG VerifySignature(const std::wstring& strPath)
{
    WINTRUST_FILE_INFO file = {};
    file.cbStruct = sizeof(file);
    file.pcwszFilePath = strPath.c_str();
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG lResult = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    return lResult;
}

Verdict CompareRights(const std::wstring& strPath, const wchar_t* pszSddl, std::wstring* pstrDetail)
{
    wchar_t szRoot[MAX_PATH] = {};
    DWORD dwFlags = 0;
    if (GetVolumePathNameW(strPath.c_str(), szRoot, MAX_PATH) &&
        GetVolumeInformationW(szRoot, nullptr, 0, nullptr, nullptr, &dwFlags, nullptr, 0) &&
        !(dwFlags & FILE_PERSISTENT_ACLS)) {
        *pstrDetail = std::wstring(L"the volume ") + szRoot + L" keeps no access lists";
        return Verdict::Skip;
    }
    PSID pOwner = nullptr;
    PACL pDacl = nullptr;
    glim::CScopedLocalMemory pSd;
    const DWORD dwError =
        GetNamedSecurityInfoW(strPath.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              &pOwner, nullptr, &pDacl, nullptr, pSd.Put());
    if (dwError != ERROR_SUCCESS) {
        *pstrDetail = L"cannot read the rights (" + ErrorText(dwError) + L")";
        return Verdict::Fail;
    }
    // The installer makes Administrators the owner, so no user may re-grant the rights.
    const std::wstring strExpected = std::wstring(L"O:BA") + pszSddl;
    glim::CScopedLocalMemory pExpectedSd;
    PSID pExpectedOwner = nullptr;
    PACL pExpected = nullptr;
    BOOL bPresent = FALSE;
    BOOL bDefaulted = FALSE;
    bool bSame = ConvertStringSecurityDescriptorToSecurityDescriptorW(strExpected.c_str(), SDDL_REVISION_1,
                                                                      pExpectedSd.Put(), nullptr) &&
        GetSecurityDescriptorOwner(pExpectedSd.Get(), &pExpectedOwner, &bDefaulted) && pOwner && pExpectedOwner &&
        EqualSid(pOwner, pExpectedOwner) &&
        GetSecurityDescriptorDacl(pExpectedSd.Get(), &bPresent, &pExpected, &bDefaulted) && pDacl && pExpected &&
        pDacl->AceCount == pExpected->AceCount;
    for (DWORD i = 0; bSame && i < pExpected->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* pHave = nullptr;
        ACCESS_ALLOWED_ACE* pWant = nullptr;
        bSame = GetAce(pDacl, i, reinterpret_cast<void**>(&pHave)) &&
            GetAce(pExpected, i, reinterpret_cast<void**>(&pWant)) && pHave->Header.AceType == pWant->Header.AceType &&
            (pHave->Header.AceFlags & ~INHERITED_ACE) == (pWant->Header.AceFlags & ~INHERITED_ACE) &&
            pHave->Mask == pWant->Mask && pWant->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
            EqualSid(&pHave->SidStart, &pWant->SidStart);
    }
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD dwRevision = 0;
    GetSecurityDescriptorControl(pSd.Get(), &control, &dwRevision);
    wchar_t* pszHave = nullptr;
    ConvertSecurityDescriptorToStringSecurityDescriptorW(
        pSd.Get(), SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &pszHave, nullptr);
    const glim::CScopedLocalMemory haveText(pszHave);
    const std::wstring strHave = pszHave ? pszHave : L"(unreadable)";
    if (bSame) {
        *pstrDetail = strExpected;
        return Verdict::Pass;
    }
    // A file system that keeps access lists reports every DACL either protected or
    // auto-inherited; one with neither was made up from something else (such as a mode).
    if (!(control & (SE_DACL_PROTECTED | SE_DACL_AUTO_INHERITED))) {
        *pstrDetail = L"the platform reports a descriptor with neither protection nor inheritance (" + strHave +
            L"), so it keeps none here";
        return Verdict::Skip;
    }
    *pstrDetail = L"is " + strHave + L", installed " + strExpected;
    return Verdict::Fail;
}

std::vector<SCheck> RunDoctor()
{
    std::vector<SCheck> result;
    CChecks checks(&result);
    const DWORD dwServicePid = CheckService(checks);
    CheckDevice(checks);
    CheckHotkeyEvent(dwServicePid, checks);
    CheckAgent(checks);
    CheckSettings(checks);
    CheckPrograms(checks);
    CheckLogs(checks);
    bool bModernStandby = false;
    const DWORD dwCapsError = ReadModernStandby(&bModernStandby);
    result.push_back(RestoreRuleCheck(dwCapsError, bModernStandby));
    return result;
}

int CountFailures(const std::vector<SCheck>& checks)
{
    int nFailures = 0;
    for (const SCheck& check : checks)
        nFailures += check.verdict == Verdict::Fail ? 1 : 0;
    return nFailures;
}

std::wstring FormatChecks(const std::vector<SCheck>& checks)
{
    std::wstring strOut;
    for (const SCheck& check : checks) {
        strOut += std::wstring(VerdictName(check.verdict)) + L"  " + check.strItem + L": " + check.strDetail;
        if (!check.strAction.empty())
            strOut += L" -> to do: " + check.strAction;
        strOut += L"\n";
    }
    strOut += std::to_wstring(CountFailures(checks)) + L" of " + std::to_wstring(checks.size()) + L" checks failed\n";
    return strOut;
}

std::wstring FormatChecksJson(const std::vector<SCheck>& checks)
{
    std::wstring strOut = L"{\"checks\": [";
    for (size_t i = 0; i < checks.size(); ++i) {
        const SCheck& check = checks[i];
        strOut += std::wstring(i ? L"," : L"") + L"\n  {\"id\": \"" + JsonEscape(check.strId) + L"\", \"verdict\": \"" +
            VerdictName(check.verdict) + L"\", \"item\": \"" + JsonEscape(check.strItem) + L"\", \"detail\": \"" +
            JsonEscape(check.strDetail) + L"\", \"action\": \"" + JsonEscape(check.strAction) + L"\"}";
    }
    strOut += L"\n], \"failures\": " + std::to_wstring(CountFailures(checks)) + L"}\n";
    return strOut;
}

}  // namespace glimctl
