#include "UsermodeProcess.h"

#include <userenv.h>
#include <wtsapi32.h>

#include "GlimLog.h"
#include "GlimNames.h"
#include "ScopedHandle.h"

using namespace glim;

namespace {

std::atomic<CUsermodeProcess*> g_pUsermodeProcess{nullptr};
CStaticCriticalSection g_csUsermodeProcess;

constexpr wchar_t kLabel[] = L"CUsermodeProcess::CreateUsermodeProcess2";
// Explorer's token is only read and copied, never changed.
constexpr DWORD kExplorerTokenAccess = TOKEN_QUERY | TOKEN_DUPLICATE;
constexpr DWORD kFlagsWithEnvironment = CREATE_PRESERVE_CODE_AUTHZ_LEVEL | CREATE_UNICODE_ENVIRONMENT;
static_assert(kFlagsWithEnvironment == 0x02000400, "creation flags with an environment block");

// The console user's own token, as Windows gives it to a service (for an administrator under
// user account control, the filtered one); empty when there is none or the caller may not ask.
CScopedHandle QuerySessionUserToken(DWORD dwSession)
{
    CScopedHandle hToken;
    GLIM_RETURN_LAST_ERROR_IF(!WTSQueryUserToken(dwSession, hToken.Put()), 'W', kLabel, L"WTSQueryUserToken",
                              CScopedHandle());
    return hToken;
}

struct SEnvironmentBlockTraits {
    using Type = LPVOID;
    static Type Invalid() { return nullptr; }
    static void Close(Type p) { DestroyEnvironmentBlock(p); }
};

// The user's own environment for the agent, without the service's; empty when it cannot be
// built.
CScoped<SEnvironmentBlockTraits> BuildEnvironment(HANDLE hToken)
{
    LPVOID pBlock = nullptr;
    if (!CreateEnvironmentBlock(&pBlock, hToken, FALSE))
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

bool glim::IsSessionUserToken(HANDLE hToken, DWORD dwSession)
{
    DWORD dwTokenSession = 0;
    DWORD cbReturned = 0;
    if (!GetTokenInformation(hToken, TokenSessionId, &dwTokenSession, sizeof(dwTokenSession), &cbReturned) ||
        dwTokenSession != dwSession)
        return false;
    alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE] = {};
    if (!GetTokenInformation(hToken, TokenUser, buffer, sizeof(buffer), &cbReturned))
        return false;
    return !IsWellKnownSid(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, WinLocalSystemSid);
}

CScopedHandle glim::ChooseAgentToken(HANDLE hSessionToken, HANDLE hExplorerToken, DWORD dwConsoleSession)
{
    HANDLE hSource = nullptr;
    if (hSessionToken && IsSessionUserToken(hSessionToken, dwConsoleSession))
        hSource = hSessionToken;
    else if (hExplorerToken && IsSessionUserToken(hExplorerToken, dwConsoleSession))
        hSource = hExplorerToken;
    if (!hSource) {
        GLIM_LOG('E', kLabel, L"No token of the console session's user (session %d)",
                 static_cast<int>(dwConsoleSession));
        SetLastError(ERROR_NO_TOKEN);
        return CScopedHandle();
    }
    GLIM_LOG('D', kLabel, L"Step3: GetTokenInformation successfully.");
    // A copy of its own, so that UI access and the level are never set on a token the
    // user's other processes share.
    CScopedHandle hDuplicate;
    if (!DuplicateTokenEx(hSource, MAXIMUM_ALLOWED, nullptr, SecurityIdentification, TokenPrimary, hDuplicate.Put()))
        return CScopedHandle();
    return hDuplicate;
}

DWORD glim::PrepareUIAccess(HANDLE hToken)
{
    const DWORD dwRaiseErr = RaiseTokenIntegrityLevel(hToken, kUIAccessIntegrityStep);
    if (dwRaiseErr != ERROR_SUCCESS) {
        GLIM_LOG('W', kLabel, L"SetTokenInformation(TokenIntegrityLevel) failed, dwErr=%d",
                 static_cast<int>(dwRaiseErr));
        GLIM_LOG('E', kLabel, L"The agent is not started: its level could not be raised for UI access");
        return dwRaiseErr;
    }
    DWORD dwUIAccess = 1;
    if (!SetTokenInformation(hToken, TokenUIAccess, &dwUIAccess, sizeof(dwUIAccess)))
        GLIM_LOG_LAST_ERROR('W', kLabel, L"SetTokenInformation(TokenUIAccess)");
    return ERROR_SUCCESS;
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
    GLIM_RETURN_LAST_ERROR_IF(!OpenProcessToken(hExplorer.Get(), kExplorerTokenAccess, hExplorerToken.Put()), 'E',
                              kLabel, L"OpenProcessToken", false);
    GLIM_LOG('D', kLabel, L"Step2: OpenProcessToken successfully.");
    // Explorer in the console session says a user's desktop is there; its token serves only
    // when the session gives none.
    const CScopedHandle hSessionToken = QuerySessionUserToken(dwConsoleSession);
    const CScopedHandle hToken = ChooseAgentToken(hSessionToken.Get(), hExplorerToken.Get(), dwConsoleSession);
    if (!hToken) {
        // Going on would start the agent with the service's own identity.
        GLIM_LOG('E', kLabel, L"No token for the agent, dwErr=%d", static_cast<int>(GetLastError()));
        return false;
    }
    if (PrepareUIAccess(hToken.Get()) != ERROR_SUCCESS)
        return false;

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
    const BOOL bCreated = CreateProcessAsUserW(hToken.Get(), kAgentProgramPath, pszCommandLine, nullptr, nullptr, FALSE,
                                               dwFlags, environment.Get(), nullptr, &startup, &process);
    GLIM_RETURN_LAST_ERROR_IF(!bCreated, 'E', kLabel, L"CreateProcessAsUserW", false);
    GLIM_LOG('D', kLabel, L"Step6: CreateProcessAsUser successfully.");
    CScopedHandle hThread(process.hThread);
    CScopedHandle hProcess(process.hProcess);
    if (phProcess)
        *phProcess = hProcess.Release();
    return true;
}
