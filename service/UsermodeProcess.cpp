#include "UsermodeProcess.h"

#include <tlhelp32.h>
#include <userenv.h>

#include "GlimLog.h"
#include "GlimNames.h"
#include "ScopedHandle.h"

using namespace glim;

namespace {

std::atomic<CUsermodeProcess*> g_pUsermodeProcess{nullptr};
CStaticCriticalSection g_csUsermodeProcess;

constexpr wchar_t kLabel[] = L"CUsermodeProcess::CreateUsermodeProcess2";
// Every standard token right except TOKEN_ADJUST_SESSIONID.
constexpr DWORD kExplorerTokenAccess = 0xF00FF;
constexpr DWORD kFlagsWithEnvironment = CREATE_PRESERVE_CODE_AUTHZ_LEVEL | CREATE_UNICODE_ENVIRONMENT;
static_assert(kFlagsWithEnvironment == 0x02000400, "creation flags with an environment block");

void EnableDebugPrivilege(HANDLE hToken)
{
    TOKEN_PRIVILEGES privileges = {};
    if (!LookupPrivilegeValueW(nullptr, SE_DEBUG_NAME, &privileges.Privileges[0].Luid))
        return;
    GLIM_LOG('D', kLabel, L"Step4: LookupPrivilegeValue successfully.");
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    AdjustTokenPrivileges(hToken, FALSE, &privileges, sizeof(privileges), nullptr, nullptr);
}

// A program with UI access at the user's own integrity level could be driven by any other
// program of that user, which would gain UI access through it; Windows raises the level of a
// UI-access program it starts itself in the same way. A failure costs no press: the agent
// starts as before.
void RaiseIntegrityForUIAccess(HANDLE hToken)
{
    const DWORD dwErr = RaiseTokenIntegrityLevel(hToken, kUIAccessIntegrityStep);
    if (dwErr != ERROR_SUCCESS)
        GLIM_LOG('W', kLabel, L"SetTokenInformation(TokenIntegrityLevel) failed, dwErr=%d", static_cast<int>(dwErr));
}

struct SEnvironmentBlockTraits {
    using Type = LPVOID;
    static Type Invalid() { return nullptr; }
    static void Close(Type p) { DestroyEnvironmentBlock(p); }
};

// The user's environment for the agent; empty when it cannot be built.
CScoped<SEnvironmentBlockTraits> BuildEnvironment(HANDLE hToken)
{
    LPVOID pBlock = nullptr;
    if (!CreateEnvironmentBlock(&pBlock, hToken, TRUE))
        return CScoped<SEnvironmentBlockTraits>();
    return CScoped<SEnvironmentBlockTraits>(pBlock);
}

}  // namespace

DWORD glim::RaiseTokenIntegrityLevel(HANDLE hToken, DWORD dwStep)
{
    BYTE buffer[sizeof(TOKEN_MANDATORY_LABEL) + SECURITY_MAX_SID_SIZE] = {};
    DWORD cbReturned = 0;
    if (!GetTokenInformation(hToken, TokenIntegrityLevel, buffer, sizeof(buffer), &cbReturned))
        return GetLastError();
    const PSID pCurrent = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(buffer)->Label.Sid;
    if (!IsValidSid(pCurrent) || *GetSidSubAuthorityCount(pCurrent) == 0)
        return ERROR_INVALID_SID;
    const DWORD dwLevel = *GetSidSubAuthority(pCurrent, *GetSidSubAuthorityCount(pCurrent) - 1);
    // S-1-16-<level>: the mandatory label authority with one sub-authority.
    SID_IDENTIFIER_AUTHORITY authority = SECURITY_MANDATORY_LABEL_AUTHORITY;
    CScopedSid pRaised;
    if (!AllocateAndInitializeSid(&authority, 1, dwLevel + dwStep, 0, 0, 0, 0, 0, 0, 0, pRaised.Put()))
        return GetLastError();
    TOKEN_MANDATORY_LABEL label = {};
    label.Label.Sid = pRaised.Get();
    label.Label.Attributes = SE_GROUP_INTEGRITY;
    if (!SetTokenInformation(hToken, TokenIntegrityLevel, &label, sizeof(label) + GetLengthSid(pRaised.Get())))
        return GetLastError();
    return ERROR_SUCCESS;
}

CScopedHandle glim::ChooseAgentToken(HANDLE hExplorerToken)
{
    TOKEN_LINKED_TOKEN linked = {};
    DWORD cbReturned = 0;
    if (GetTokenInformation(hExplorerToken, TokenLinkedToken, &linked, sizeof(linked), &cbReturned) &&
        linked.LinkedToken)
        return CScopedHandle(linked.LinkedToken);
    GLIM_LOG('D', kLabel, L"Step3: GetTokenInformation successfully.");
    HANDLE hDuplicate = nullptr;
    if (!DuplicateTokenEx(hExplorerToken, MAXIMUM_ALLOWED, nullptr, SecurityIdentification, TokenPrimary,
                          &hDuplicate))
        return CScopedHandle();
    return CScopedHandle(hDuplicate);
}

DWORD glim::FindExplorerProcessId(DWORD dwConsoleSession)
{
    DWORD dwPid = 0;
    CScopedFile hSnapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!hSnapshot)
        return 0;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL bMore = Process32FirstW(hSnapshot.Get(), &entry); bMore; bMore = Process32NextW(hSnapshot.Get(), &entry)) {
        if (lstrcmpiW(entry.szExeFile, L"explorer.exe") != 0)
            continue;
        dwPid = entry.th32ProcessID;
        DWORD dwSession = 0;
        if (ProcessIdToSessionId(dwPid, &dwSession) && dwSession == dwConsoleSession)
            break;
    }
    return dwPid;
}

CUsermodeProcess::CUsermodeProcess() = default;
CUsermodeProcess::~CUsermodeProcess() = default;

CUsermodeProcess* CUsermodeProcess::GetInstance()
{
    return GetOrCreateInstance(g_pUsermodeProcess, g_csUsermodeProcess);
}

bool CUsermodeProcess::CreateUsermodeProcess2(DWORD* pdwExplorerPid, wchar_t* pszCommandLine, HANDLE* phProcess)
{
    GLIM_LOG('D', kLabel, L"__CreateUsermodeProcess2 start");
    const DWORD dwConsoleSession = WTSGetActiveConsoleSessionId();
    if (*pdwExplorerPid == 0) {
        *pdwExplorerPid = FindExplorerProcessId(dwConsoleSession);
        GLIM_LOG('D', kLabel, L"GetPidByName(explorer.exe) = %d", static_cast<int>(*pdwExplorerPid));
        if (*pdwExplorerPid == 0)
            return false;
    }
    GLIM_LOG('D', kLabel, L"111");
    GLIM_LOG('D', kLabel, L"get hProcess[%ld]=%d", static_cast<long>(dwConsoleSession),
             static_cast<int>(*pdwExplorerPid));
    CScopedHandle hExplorer(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, *pdwExplorerPid));
    if (!hExplorer) {
        GLIM_LOG('E', kLabel, L"can not open dwExplorer HANDLE");
        return false;
    }
    GLIM_LOG('D', kLabel, L"Step1: OpenProcess successfully.");
    CScopedHandle hExplorerToken;
    if (!OpenProcessToken(hExplorer.Get(), kExplorerTokenAccess, hExplorerToken.Put()))
        return false;
    GLIM_LOG('D', kLabel, L"Step2: OpenProcessToken successfully.");
    const CScopedHandle hToken = ChooseAgentToken(hExplorerToken.Get());
    if (!hToken) {
        // Going on would start the agent with the service's own identity.
        GLIM_LOG('E', kLabel, L"No token for the agent, dwErr=%d", static_cast<int>(GetLastError()));
        return false;
    }
    DWORD dwUIAccess = 1;
    SetTokenInformation(hToken.Get(), TokenUIAccess, &dwUIAccess, sizeof(dwUIAccess));
    RaiseIntegrityForUIAccess(hToken.Get());
    EnableDebugPrivilege(hToken.Get());

    const CScoped<SEnvironmentBlockTraits> environment = BuildEnvironment(hToken.Get());
    DWORD dwFlags = CREATE_PRESERVE_CODE_AUTHZ_LEVEL;
    if (environment.Get()) {
        GLIM_LOG('D', kLabel, L"Step5: CreateEnvironmentBlock successfully.");
        dwFlags = kFlagsWithEnvironment;
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_FORCEOFFFEEDBACK;
    startup.wShowWindow = SW_HIDE;
    // Without a desktop name the agent would inherit the service's window station, where it
    // cannot see the user's windows.
    startup.lpDesktop = const_cast<wchar_t*>(kUserDesktop);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessAsUserW(hToken.Get(), kAgentProgramPath, pszCommandLine, nullptr, nullptr, TRUE, dwFlags,
                              environment.Get(), nullptr, &startup, &process))
        return false;
    GLIM_LOG('D', kLabel, L"Step6: CreateProcessAsUser successfully.");
    CScopedHandle hThread(process.hThread);
    CScopedHandle hProcess(process.hProcess);
    if (phProcess)
        *phProcess = hProcess.Release();
    return true;
}
