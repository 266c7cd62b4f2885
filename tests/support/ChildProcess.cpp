#include "ChildProcess.h"

#include <vector>

#include "ProcessStart.h"

namespace glimtest {

CChildProcess::~CChildProcess()
{
    Terminate();
}

DWORD CChildProcess::Start(const std::wstring& strExe, const std::wstring& strArgs)
{
    return StartCommandLine(strExe, strArgs.empty() ? QuoteArg(strExe) : QuoteArg(strExe) + L" " + strArgs);
}

DWORD CChildProcess::StartCommandLine(const std::wstring& strExe, const std::wstring& strCommandLine)
{
    Terminate();
    // CreateProcessW may write into the command line buffer.
    std::vector<wchar_t> vecCommandLine(strCommandLine.begin(), strCommandLine.end());
    vecCommandLine.push_back(L'\0');

    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    const DWORD dwErr = glimtest::CreateProcessRetrying(strExe.c_str(), vecCommandLine.data(), FALSE, 0, &si, &pi);
    if (dwErr != ERROR_SUCCESS)
        return dwErr;
    CloseHandle(pi.hThread);
    m_hProcess.Reset(pi.hProcess);
    m_dwProcessId = pi.dwProcessId;
    return ERROR_SUCCESS;
}

bool CChildProcess::WaitExit(DWORD dwTimeoutMs, DWORD* pdwExitCode) const
{
    if (!m_hProcess || WaitForSingleObject(m_hProcess.Get(), dwTimeoutMs) != WAIT_OBJECT_0)
        return false;
    DWORD dwExitCode = 0;
    GetExitCodeProcess(m_hProcess.Get(), &dwExitCode);
    if (pdwExitCode)
        *pdwExitCode = dwExitCode;
    return true;
}

void CChildProcess::Terminate()
{
    if (!m_hProcess)
        return;
    if (WaitForSingleObject(m_hProcess.Get(), 0) == WAIT_TIMEOUT) {
        TerminateProcess(m_hProcess.Get(), 1);
        WaitForSingleObject(m_hProcess.Get(), 10000);
    }
    m_hProcess.Reset();
    m_dwProcessId = 0;
}

std::wstring CChildProcess::ModuleDir()
{
    std::vector<wchar_t> vecPath(MAX_PATH);
    for (;;) {
        const DWORD cch = GetModuleFileNameW(nullptr, vecPath.data(), static_cast<DWORD>(vecPath.size()));
        if (cch == 0)
            return std::wstring();
        if (cch < vecPath.size()) {
            std::wstring strPath(vecPath.data(), cch);
            return strPath.substr(0, strPath.find_last_of(L"\\/") + 1);
        }
        vecPath.resize(vecPath.size() * 2);
    }
}

std::wstring CChildProcess::QuoteArg(const std::wstring& strArg)
{
    if (!strArg.empty() && strArg.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return strArg;
    // Backslashes are literal except in front of a quote, where they must be doubled.
    std::wstring strQuoted = L"\"";
    size_t cBackslashes = 0;
    for (wchar_t ch : strArg) {
        if (ch == L'\\') {
            ++cBackslashes;
            continue;
        }
        strQuoted.append(ch == L'"' ? cBackslashes * 2 + 1 : cBackslashes, L'\\');
        strQuoted += ch;
        cBackslashes = 0;
    }
    strQuoted.append(cBackslashes * 2, L'\\');
    strQuoted += L'"';
    return strQuoted;
}

}  // namespace glimtest
