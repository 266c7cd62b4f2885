#include "CapturedRun.h"

#include "ProcessStart.h"
#include "ScopedHandle.h"

namespace glimtest {

namespace {

// A temporary file the child writes through an inherited handle; deleted when closed.
DWORD OpenCaptureFile(glim::CScopedFile* phFile)
{
    wchar_t szTemp[MAX_PATH] = {};
    wchar_t szFile[MAX_PATH] = {};
    if (!GetTempPathW(MAX_PATH, szTemp) || !GetTempFileNameW(szTemp, L"cap", 0, szFile))
        return GetLastError();
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    phFile->Reset(CreateFileW(szFile, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    return *phFile ? ERROR_SUCCESS : GetLastError();
}

// What the child wrote to the file, read as UTF-8.
std::wstring ReadCaptured(HANDLE hFile)
{
    std::string strBytes;
    char buffer[4096];
    DWORD cbRead = 0;
    SetFilePointer(hFile, 0, nullptr, FILE_BEGIN);
    while (ReadFile(hFile, buffer, sizeof(buffer), &cbRead, nullptr) && cbRead > 0)
        strBytes.append(buffer, cbRead);
    const int cch = MultiByteToWideChar(CP_UTF8, 0, strBytes.data(), static_cast<int>(strBytes.size()), nullptr, 0);
    std::wstring strText(cch > 0 ? cch : 0, L'\0');
    if (cch > 0)
        MultiByteToWideChar(CP_UTF8, 0, strBytes.data(), static_cast<int>(strBytes.size()), &strText[0], cch);
    return strText;
}

DWORD RunToFiles(const std::wstring& program, const std::wstring& arguments, HANDLE hOut, HANDLE hErr,
                 DWORD dwTimeoutMs, DWORD* pdwExitCode)
{
    std::wstring commandLine = L"\"" + program + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = hOut;
    startup.hStdError = hErr;
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
    GetExitCodeProcess(hProcess.Get(), pdwExitCode);
    return ERROR_SUCCESS;
}

}  // namespace

DWORD RunCaptured(const std::wstring& program, const std::wstring& arguments, SCapturedRun* pRun, DWORD dwTimeoutMs)
{
    glim::CScopedFile hOut;
    DWORD dwErr = OpenCaptureFile(&hOut);
    if (dwErr == ERROR_SUCCESS)
        dwErr = RunToFiles(program, arguments, hOut.Get(), hOut.Get(), dwTimeoutMs, &pRun->dwExitCode);
    if (dwErr == ERROR_SUCCESS)
        pRun->strOut = ReadCaptured(hOut.Get());
    return dwErr;
}

DWORD RunCapturedApart(const std::wstring& program, const std::wstring& arguments, SCapturedRun* pRun,
                       DWORD dwTimeoutMs)
{
    glim::CScopedFile hOut;
    glim::CScopedFile hErr;
    DWORD dwErr = OpenCaptureFile(&hOut);
    if (dwErr == ERROR_SUCCESS)
        dwErr = OpenCaptureFile(&hErr);
    if (dwErr == ERROR_SUCCESS)
        dwErr = RunToFiles(program, arguments, hOut.Get(), hErr.Get(), dwTimeoutMs, &pRun->dwExitCode);
    if (dwErr == ERROR_SUCCESS) {
        pRun->strOut = ReadCaptured(hOut.Get());
        pRun->strErr = ReadCaptured(hErr.Get());
    }
    return dwErr;
}

}  // namespace glimtest
