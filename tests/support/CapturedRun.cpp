#include "CapturedRun.h"

#include "ProcessStart.h"
#include "ScopedHandle.h"

namespace glimtest {

DWORD RunCaptured(const std::wstring& program, const std::wstring& arguments, SCapturedRun* pRun, DWORD dwTimeoutMs)
{
    wchar_t szTemp[MAX_PATH] = {};
    wchar_t szFile[MAX_PATH] = {};
    if (!GetTempPathW(MAX_PATH, szTemp) || !GetTempFileNameW(szTemp, L"cap", 0, szFile))
        return GetLastError();
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    glim::CScopedFile hOut(CreateFileW(szFile, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                       CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (!hOut)
        return GetLastError();
    std::wstring commandLine = L"\"" + program + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = hOut.Get();
    startup.hStdError = hOut.Get();
    PROCESS_INFORMATION process = {};
    const DWORD dwErr =
        CreateProcessRetrying(program.c_str(), &commandLine[0], TRUE, CREATE_NO_WINDOW, &startup, &process);
    if (dwErr != ERROR_SUCCESS)
        return dwErr;
    const glim::CScopedHandle hProcess(process.hProcess);
    CloseHandle(process.hThread);
    if (WaitForSingleObject(hProcess.Get(), dwTimeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(hProcess.Get(), 1);
        WaitForSingleObject(hProcess.Get(), 5000);
        return ERROR_TIMEOUT;
    }
    GetExitCodeProcess(hProcess.Get(), &pRun->dwExitCode);
    std::string strBytes;
    char buffer[4096];
    DWORD cbRead = 0;
    SetFilePointer(hOut.Get(), 0, nullptr, FILE_BEGIN);
    while (ReadFile(hOut.Get(), buffer, sizeof(buffer), &cbRead, nullptr) && cbRead > 0)
        strBytes.append(buffer, cbRead);
    const int cch = MultiByteToWideChar(CP_UTF8, 0, strBytes.data(), static_cast<int>(strBytes.size()), nullptr, 0);
    pRun->strOut.assign(cch > 0 ? cch : 0, L'\0');
    if (cch > 0)
        MultiByteToWideChar(CP_UTF8, 0, strBytes.data(), static_cast<int>(strBytes.size()), &pRun->strOut[0], cch);
    return ERROR_SUCCESS;
}

}  // namespace glimtest
