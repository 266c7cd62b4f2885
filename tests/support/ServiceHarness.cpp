#include "ServiceHarness.h"

#include <shlobj.h>
#include <tlhelp32.h>

#include <cwchar>

#include "GlimNames.h"
#include "ProcessStart.h"
#include "ScopedHandle.h"
#include "Scm.h"
#include "SettingsFileTools.h"
#include "SimSessionProtocol.h"
#include "agentprobe/AgentProbeProtocol.h"

namespace glimtest {

namespace {

constexpr const wchar_t* kOverrideKey = L"Software\\Wine\\AppDefaults\\Glimward.exe\\DllOverrides";

std::wstring Folder(const std::wstring& path)
{
    const size_t pos = path.find_last_of(L'\\');
    return pos == std::wstring::npos ? std::wstring() : path.substr(0, pos);
}

bool ReadWholeFile(const std::wstring& path, std::string* pBytes)
{
    HANDLE hFile = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    pBytes->clear();
    char buffer[4096];
    DWORD cbRead = 0;
    while (ReadFile(hFile, buffer, sizeof(buffer), &cbRead, nullptr) && cbRead > 0)
        pBytes->append(buffer, cbRead);
    CloseHandle(hFile);
    return true;
}

std::wstring Utf16Text(const std::string& bytes)
{
    std::wstring text(bytes.size() / 2, L'\0');
    if (!text.empty())
        memcpy(&text[0], bytes.data(), text.size() * sizeof(wchar_t));
    return text;
}

std::vector<std::wstring> SplitLines(const std::wstring& text)
{
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(L"\r\n", start);
        if (end == std::wstring::npos)
            break;
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

}  // namespace

std::wstring InstallDir()
{
    return glim::kProgramFolder;
}

std::wstring InstalledServicePath()
{
    return InstallDir() + L"\\" + glim::kServiceProgramFile;
}

std::wstring BuildBinPath(const std::wstring& relative)
{
    wchar_t szSelf[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, szSelf, MAX_PATH);
    return Folder(szSelf) + L"\\" + relative;
}

DWORD RunProgram(const std::wstring& program, const std::wstring& arguments, DWORD* pdwExitCode, DWORD dwTimeoutMs)
{
    std::wstring commandLine = L"\"" + program + L"\"";
    if (!arguments.empty())
        commandLine += L" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    const DWORD dwStartErr =
        glimtest::CreateProcessRetrying(program.c_str(), &commandLine[0], FALSE, 0, &startup, &process);
    if (dwStartErr != ERROR_SUCCESS)
        return dwStartErr;
    CloseHandle(process.hThread);
    DWORD dwErr = ERROR_SUCCESS;
    if (WaitForSingleObject(process.hProcess, dwTimeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 5000);
        dwErr = ERROR_TIMEOUT;
    }
    if (pdwExitCode && !GetExitCodeProcess(process.hProcess, pdwExitCode))
        dwErr = GetLastError();
    CloseHandle(process.hProcess);
    return dwErr;
}

CInstalledFile::~CInstalledFile()
{
    if (m_destination.empty())
        return;
    // A program that has just ended may still hold its image for a moment.
    WaitUntil([&] { return DeleteFileW(m_destination.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND; }, 5000);
}

DWORD CInstalledFile::Install(const std::wstring& source, const std::wstring& destination)
{
    const int nDirErr = SHCreateDirectoryExW(nullptr, Folder(destination).c_str(), nullptr);
    if (nDirErr != ERROR_SUCCESS && nDirErr != ERROR_ALREADY_EXISTS && nDirErr != ERROR_FILE_EXISTS)
        return static_cast<DWORD>(nDirErr);
    // A program that has just ended (the service of the previous test) may still hold its
    // image for a moment.
    DWORD dwErr = ERROR_SUCCESS;
    WaitUntil(
        [&] {
            dwErr = CopyFileW(source.c_str(), destination.c_str(), FALSE) ? ERROR_SUCCESS : GetLastError();
            return dwErr != ERROR_SHARING_VIOLATION;
        },
        5000);
    if (dwErr != ERROR_SUCCESS)
        return dwErr;
    m_destination = destination;
    return ERROR_SUCCESS;
}

CWtsOverride::~CWtsOverride()
{
    if (m_bKey)
        RegDeleteKeyW(HKEY_CURRENT_USER, kOverrideKey);
}

DWORD CWtsOverride::Install()
{
    DWORD dwErr = m_dll.Install(BuildBinPath(L"simdll\\wtsapi32.dll"), InstallDir() + L"\\wtsapi32.dll");
    if (dwErr != ERROR_SUCCESS)
        return dwErr;
    HKEY hKey = nullptr;
    dwErr = RegCreateKeyExW(HKEY_CURRENT_USER, kOverrideKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &hKey, nullptr);
    if (dwErr != ERROR_SUCCESS)
        return dwErr;
    m_bKey = true;
    static const wchar_t kNative[] = L"native";
    dwErr = RegSetValueExW(hKey, L"wtsapi32", 0, REG_SZ, reinterpret_cast<const BYTE*>(kNative), sizeof(kNative));
    RegCloseKey(hKey);
    return dwErr;
}

CSimSession::CSimSession()
{
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, simsession::kRegKey);
}

CSimSession::~CSimSession()
{
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, simsession::kRegKey);
}

DWORD CSimSession::SetFlags(DWORD dwFlags)
{
    return RegSetKeyValueW(HKEY_LOCAL_MACHINE, simsession::kRegKey, simsession::kValueSessionFlags, REG_DWORD, &dwFlags,
                           sizeof(dwFlags));
}

DWORD CSimSession::SetTokenFailure(DWORD dwErr)
{
    return RegSetKeyValueW(HKEY_LOCAL_MACHINE, simsession::kRegKey, simsession::kValueTokenFailWith, REG_DWORD, &dwErr,
                           sizeof(dwErr));
}

DWORD CSimSession::Queries() const
{
    DWORD dwValue = 0;
    DWORD cb = sizeof(dwValue);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, simsession::kRegKey, simsession::kValueQueries, RRF_RT_REG_DWORD, nullptr,
                     &dwValue, &cb) != ERROR_SUCCESS)
        return 0;
    return dwValue;
}

CAgentProbe::~CAgentProbe()
{
    Clear();
}

std::wstring CAgentProbe::LogPath()
{
    return InstallDir() + L"\\AgentProbe.log";
}

DWORD CAgentProbe::Install()
{
    Clear();
    return m_program.Install(BuildBinPath(L"GlimAgentProbe.exe"), glim::kAgentProgramPath);
}

std::wstring CAgentProbe::TokenLogPath()
{
    return InstallDir() + L"\\" + agentprobe::kTokenLogName;
}

std::vector<std::wstring> CAgentProbe::Starts() const
{
    std::string bytes;
    if (!ReadWholeFile(LogPath(), &bytes))
        return {};
    return SplitLines(Utf16Text(bytes));
}

std::vector<std::wstring> CAgentProbe::Tokens() const
{
    std::string bytes;
    if (!ReadWholeFile(TokenLogPath(), &bytes))
        return {};
    return SplitLines(Utf16Text(bytes));
}

void CAgentProbe::Clear() const
{
    DeleteFileW(LogPath().c_str());
    DeleteFileW(TokenLogPath().c_str());
}

CSettings::CSettings()
{
    EnsureFolder();
    RemoveFile();
}

CSettings::~CSettings()
{
    RemoveFile();
}

void CSettings::Set(const wchar_t* pszKey, int nValue) const
{
    WriteKey(pszKey, nValue);
}

void CSettings::Remove(const wchar_t* pszKey) const
{
    RemoveKey(pszKey);
}

int CSettings::Get(const wchar_t* pszKey) const
{
    return static_cast<int>(ReadNumber(pszKey, static_cast<DWORD>(-1)));
}

CServiceLogFile::CServiceLogFile()
{
    Delete();
}

CServiceLogFile::~CServiceLogFile()
{
    Delete();
}

bool CServiceLogFile::Create() const
{
    SHCreateDirectoryExW(nullptr, Folder(glim::kServiceLogPath).c_str(), nullptr);
    HANDLE hFile =
        CreateFileW(glim::kServiceLogPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(hFile);
    return true;
}

void CServiceLogFile::Delete() const
{
    DeleteFileW(glim::kServiceLogPath);
}

bool CServiceLogFile::Exists() const
{
    return GetFileAttributesW(glim::kServiceLogPath) != INVALID_FILE_ATTRIBUTES;
}

std::wstring CServiceLogFile::Text() const
{
    std::string bytes;
    if (!ReadWholeFile(glim::kServiceLogPath, &bytes))
        return std::wstring();
    return Utf16Text(bytes);
}

namespace {

// The message of a service log line "Pid:%d  %s  %s \r\n" (without its line ending): what
// follows the second double space, without the final space. False for other lines.
bool MessageOfLine(const std::wstring& line, std::wstring* pMessage)
{
    const size_t first = line.find(L"  ");
    const size_t second = first == std::wstring::npos ? first : line.find(L"  ", first + 2);
    if (second == std::wstring::npos || line.size() < second + 3 || line.back() != L' ')
        return false;
    *pMessage = line.substr(second + 2, line.size() - second - 3);
    return true;
}

}  // namespace

int CServiceLogFile::CountMessage(const std::wstring& message) const
{
    int nCount = 0;
    std::wstring text;
    for (const std::wstring& line : SplitLines(Text())) {
        if (MessageOfLine(line, &text) && text == message)
            ++nCount;
    }
    return nCount;
}

int CServiceLogFile::CountMessagePrefix(const std::wstring& prefix) const
{
    int nCount = 0;
    std::wstring text;
    for (const std::wstring& line : SplitLines(Text())) {
        if (MessageOfLine(line, &text) && text.compare(0, prefix.size(), prefix) == 0)
            ++nCount;
    }
    return nCount;
}

bool CServiceLogFile::WaitForMessage(const std::wstring& message, DWORD dwTimeoutMs) const
{
    return WaitUntil([&] { return CountMessage(message) > 0; }, dwTimeoutMs);
}

CServiceGuard::CServiceGuard(const wchar_t* pszName) : m_name(pszName)
{
    glimtest::ScmRemove(m_name.c_str());
}

CServiceGuard::~CServiceGuard()
{
    glimtest::ScmRemove(m_name.c_str());
}

DWORD InstallAndStartService(DWORD dwTimeoutMs)
{
    DWORD dwExit = 0xdeadbeef;
    DWORD dwErr = RunProgram(InstalledServicePath(), L"x -I", &dwExit);
    if (dwErr != ERROR_SUCCESS)
        return dwErr;
    if (dwExit != 0)
        return ERROR_INVALID_FUNCTION;
    dwErr = glimtest::ScmStart(glim::kServiceName, dwTimeoutMs);
    if (dwErr != ERROR_SUCCESS)
        return dwErr;
    const bool bListening = WaitUntil(
        [] {
            HANDLE hEvent = OpenEventW(SYNCHRONIZE, FALSE, glim::kEventHotkey);
            if (hEvent)
                CloseHandle(hEvent);
            return hEvent != nullptr;
        },
        dwTimeoutMs);
    return bListening ? ERROR_SUCCESS : ERROR_TIMEOUT;
}

bool EnsureExplorer()
{
    auto explorerRuns = [] {
        bool bFound = false;
        HANDLE hSnapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (hSnapshot == INVALID_HANDLE_VALUE)
            return false;
        PROCESSENTRY32W entry = {};
        entry.dwSize = sizeof(entry);
        for (BOOL bMore = Process32FirstW(hSnapshot, &entry); bMore && !bFound;
             bMore = Process32NextW(hSnapshot, &entry))
            bFound = lstrcmpiW(entry.szExeFile, L"explorer.exe") == 0;
        CloseHandle(hSnapshot);
        return bFound;
    };
    if (explorerRuns())
        return true;
    // Using the display starts Wine's desktop process.
    HWND hWnd = CreateWindowExW(0, L"STATIC", L"svctest", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    const bool bRuns = WaitUntil(explorerRuns, 15000);
    if (hWnd)
        DestroyWindow(hWnd);
    return bRuns;
}

DWORD ServiceProcessId(const wchar_t* pszName)
{
    glimtest::CScHandle hService = glimtest::OpenServiceHandle(pszName, SERVICE_QUERY_STATUS);
    SERVICE_STATUS_PROCESS status = {};
    DWORD cbNeeded = 0;
    if (!hService ||
        !QueryServiceStatusEx(hService.Get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof(status),
                              &cbNeeded))
        return 0;
    return status.dwCurrentState == SERVICE_RUNNING ? status.dwProcessId : 0;
}

std::wstring DescribeExplorerToken()
{
    const DWORD dwSession = WTSGetActiveConsoleSessionId();
    std::wstring description;
    HANDLE hSnapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (hSnapshot == INVALID_HANDLE_VALUE)
        return description;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL bMore = Process32FirstW(hSnapshot, &entry); bMore && description.empty();
         bMore = Process32NextW(hSnapshot, &entry)) {
        DWORD dwProcessSession = 0;
        if (lstrcmpiW(entry.szExeFile, L"explorer.exe") != 0 ||
            !ProcessIdToSessionId(entry.th32ProcessID, &dwProcessSession) || dwProcessSession != dwSession)
            continue;
        glim::CScopedHandle hProcess(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, entry.th32ProcessID));
        glim::CScopedHandle hToken;
        if (hProcess && OpenProcessToken(hProcess.Get(), TOKEN_QUERY, hToken.Put()))
            description = agentprobe::DescribeToken(hToken.Get());
    }
    CloseHandle(hSnapshot);
    return description;
}

}  // namespace glimtest
