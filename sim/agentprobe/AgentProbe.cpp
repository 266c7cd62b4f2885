// Stands in for the agent at its install location: appends its whole command line, one
// UTF-16 line per start, to AgentProbe.log beside itself, and what its token holds, one line
// per start, to AgentProbeToken.log (format in AgentProbeProtocol.h), then exits.
#include <windows.h>

#include <cwchar>
#include <string>

#include "AgentProbeProtocol.h"

namespace {

bool PathBesideProgram(const wchar_t* pszName, wchar_t (&szPath)[MAX_PATH])
{
    const DWORD cch = GetModuleFileNameW(nullptr, szPath, MAX_PATH);
    if (cch == 0 || cch >= MAX_PATH)
        return false;
    wchar_t* pszSlash = wcsrchr(szPath, L'\\');
    if (!pszSlash || (pszSlash - szPath) + 1 + wcslen(pszName) >= MAX_PATH)
        return false;
    wcscpy(pszSlash + 1, pszName);
    return true;
}

// Several probes may start close together: retry while another holds the file.
bool AppendLine(const wchar_t* pszName, const std::wstring& line)
{
    wchar_t szPath[MAX_PATH] = {};
    if (!PathBesideProgram(pszName, szPath))
        return false;
    const std::wstring text = line + L"\r\n";
    for (int nTry = 0; nTry < 100; ++nTry) {
        HANDLE hFile = CreateFileW(szPath, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
        if (hFile == INVALID_HANDLE_VALUE) {
            Sleep(20);
            continue;
        }
        DWORD cbWritten = 0;
        WriteFile(hFile, text.c_str(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &cbWritten, nullptr);
        CloseHandle(hFile);
        return true;
    }
    return false;
}

std::wstring DescribeOwnToken()
{
    HANDLE hToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hToken))
        return L"unreadable";
    std::wstring line = agentprobe::DescribeToken(hToken);
    CloseHandle(hToken);
    return line;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    if (!AppendLine(agentprobe::kTokenLogName, DescribeOwnToken()))
        return 2;
    return AppendLine(L"AgentProbe.log", GetCommandLineW()) ? 0 : 2;
}
