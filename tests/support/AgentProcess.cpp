#include "AgentProcess.h"

#include <tlhelp32.h>

#include <vector>

#include "ChildProcess.h"
#include "GlimNames.h"
#include "ProcessStart.h"
#include "ScopedHandle.h"
#include "SettingsFileTools.h"

using namespace glim;

namespace glimtest {

std::wstring AgentPath()
{
    return CChildProcess::ModuleDir() + L"Glimagent.exe";
}

HWND FindAgentWindow()
{
    return FindWindowW(nullptr, kAgentWindowTitle);
}

bool CAgentProcess::WaitExit(DWORD dwTimeoutMs, DWORD* pdwExitCode)
{
    if (!Handle())
        return false;
    return WaitUntil([this] { return !IsRunning(); }, dwTimeoutMs) && CChildProcess::WaitExit(0, pdwExitCode);
}

namespace {
bool MainMutexExists()
{
    return CScopedHandle(OpenMutexW(SYNCHRONIZE, FALSE, kMutexAgentMain)).IsValid();
}

// Ends a process by id and waits (bounded) until it has gone.
void EndProcess(DWORD dwPid)
{
    const CScopedHandle hProcess(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, dwPid));
    if (!hProcess)
        return;
    TerminateProcess(hProcess.Get(), 1);
    WaitForSingleObject(hProcess.Get(), 5000);
}
}  // namespace

bool EventExists(const wchar_t* pszName)
{
    return CScopedHandle(OpenEventW(SYNCHRONIZE, FALSE, pszName)).IsValid();
}

bool SignalExistingEvent(const wchar_t* pszName)
{
    const CScopedHandle hEvent(OpenEventW(EVENT_MODIFY_STATE, FALSE, pszName));
    return hEvent && SetEvent(hEvent.Get()) != FALSE;
}

bool CMainAgent::Start(DWORD dwTimeoutMs, const std::wstring& program)
{
    if (m_process.Start(L"Glimagent.exe", program) != 0)
        return false;
    const DWORD dwPid = m_process.Pid();
    const bool bReady = WaitUntil(
        [&] {
            HWND hWnd = FindAgentWindow();
            DWORD dwOwner = 0;
            if (!hWnd || !GetWindowThreadProcessId(hWnd, &dwOwner) || dwOwner != dwPid)
                return false;
            m_hWnd = hWnd;
            // The listeners create their events last in the start-up.
            return EventExists(kEventHostOsd) && EventExists(kEventHostStatusChange) && EventExists(kEventUwp);
        },
        dwTimeoutMs);
    return bReady;
}

bool CMainAgent::Exit(DWORD dwTimeoutMs)
{
    if (!m_process.IsRunning())
        return false;
    DWORD_PTR dwResult = 0;
    SendMessageTimeoutW(m_hWnd, WM_COMMAND, MAKEWPARAM(105, 0), 0, SMTO_NORMAL, dwTimeoutMs, &dwResult);
    return m_process.WaitExit(dwTimeoutMs);
}

CMainAgent::~CMainAgent()
{
    if (m_process.IsRunning())
        Exit(5000);
    m_process.Terminate();
}

void EndStrayAgents()
{
    for (int i = 0; i < 5; ++i) {
        HWND hWnd = FindAgentWindow();
        if (!hWnd)
            break;
        DWORD dwPid = 0;
        GetWindowThreadProcessId(hWnd, &dwPid);
        EndProcess(dwPid);
    }
    WaitUntil([] { return !MainMutexExists() && !FindAgentWindow(); }, 5000);
}

namespace {
bool IsProcessOf(DWORD dwPid, const std::wstring& program)
{
    const CScopedHandle hProcess(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, dwPid));
    wchar_t szImage[MAX_PATH] = {};
    DWORD cch = MAX_PATH;
    return hProcess && QueryFullProcessImageNameW(hProcess.Get(), 0, szImage, &cch) &&
        lstrcmpiW(szImage, program.c_str()) == 0;
}

}  // namespace

std::vector<DWORD> ProcessesOf(const std::wstring& program)
{
    std::vector<DWORD> pids;
    const CScopedFile hSnapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!hSnapshot)
        return pids;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL bMore = Process32FirstW(hSnapshot.Get(), &entry); bMore;
         bMore = Process32NextW(hSnapshot.Get(), &entry)) {
        if (entry.th32ProcessID != GetCurrentProcessId() && IsProcessOf(entry.th32ProcessID, program))
            pids.push_back(entry.th32ProcessID);
    }
    return pids;
}

void EndProcessesOf(const std::wstring& program)
{
    for (DWORD dwPid : ProcessesOf(program))
        EndProcess(dwPid);
    WaitUntil([&] { return ProcessesOf(program).empty(); }, 5000);
}

void ResetSettings(std::initializer_list<std::pair<const wchar_t*, const wchar_t*>> keys)
{
    EnsureFolder();
    RemoveFile();
    for (const auto& key : keys)
        WriteKey(key.first, key.second);
}

}  // namespace glimtest
