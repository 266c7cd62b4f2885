// Runs a console program to its end with its standard output and error captured, as a
// script would: the text it wrote (UTF-8) and its exit code.
#pragma once

#include <windows.h>

#include <string>

namespace glimtest {

struct SCapturedRun {
    DWORD dwExitCode = 0;
    std::wstring strOut;  // standard output and standard error, in the order written
    std::wstring strErr;  // RunCapturedApart only: standard error (strOut then holds output only)
};

// Returns ERROR_SUCCESS once the program ended within dwTimeoutMs, the start error, or
// ERROR_TIMEOUT (the program is then killed).
DWORD RunCaptured(const std::wstring& program, const std::wstring& arguments, SCapturedRun* pRun,
                  DWORD dwTimeoutMs = 60000);
// The same with standard output and standard error captured apart.
DWORD RunCapturedApart(const std::wstring& program, const std::wstring& arguments, SCapturedRun* pRun,
                       DWORD dwTimeoutMs = 60000);

}  // namespace glimtest
