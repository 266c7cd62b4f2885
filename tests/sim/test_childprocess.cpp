// The child processes that tests start: argument quoting (each argument must come back
// unchanged from the Windows command-line split), exit codes, and the end of a child with
// its owner.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "ChildProcess.h"
#include "SettingsApp.h"
#include "settingsapp/SettingsAppProtocol.h"

using namespace glimtest;

namespace {

std::vector<std::wstring> Split(const std::wstring& strCommandLine)
{
    int nArgs = 0;
    LPWSTR* ppszArgs = CommandLineToArgvW(strCommandLine.c_str(), &nArgs);
    std::vector<std::wstring> vecArgs;
    if (!ppszArgs)
        return vecArgs;
    for (int i = 0; i < nArgs; ++i)
        vecArgs.push_back(ppszArgs[i]);
    LocalFree(ppszArgs);
    return vecArgs;
}

}  // namespace

TEST(ChildProcessQuoteArg, EveryArgumentSurvivesTheSplit)
{
    const std::vector<std::wstring> vecArgs = {
        L"plain",           L"",        L"two words",         L"tab\there",
        L"quote\"inside",   L"\"",      L"trailing\\",        L"C:\\Program Files\\x\\",
        L"back\\\\\"slash", L"2\u79D2", L"\\\\server\\share",
    };
    std::wstring strCommandLine = L"prog.exe";
    for (const std::wstring& strArg : vecArgs)
        strCommandLine += L" " + CChildProcess::QuoteArg(strArg);
    const std::vector<std::wstring> vecSplit = Split(strCommandLine);
    ASSERT_EQ(vecArgs.size() + 1, vecSplit.size()) << strCommandLine;
    for (size_t i = 0; i < vecArgs.size(); ++i)
        EXPECT_EQ(vecArgs[i], vecSplit[i + 1]) << strCommandLine;
}

TEST(ChildProcessQuoteArg, SimpleArgumentsStayUnquoted)
{
    EXPECT_EQ(L"--hold", CChildProcess::QuoteArg(L"--hold"));
    EXPECT_EQ(L"C:\\dir\\file.txt", CChildProcess::QuoteArg(L"C:\\dir\\file.txt"));
    EXPECT_EQ(L"\"\"", CChildProcess::QuoteArg(L""));
}

TEST(ChildProcess, EndsWithItsOwnerAndReportsExitCodes)
{
    wchar_t szCmd[MAX_PATH] = {};
    ASSERT_NE(0u, GetSystemDirectoryW(szCmd, MAX_PATH));
    const std::wstring strCmd = std::wstring(szCmd) + L"\\cmd.exe";
    {
        CChildProcess child;
        ASSERT_EQ(0u, child.Start(strCmd, L"/c exit 7"));
        DWORD dwExitCode = 0;
        ASSERT_TRUE(child.WaitExit(10000, &dwExitCode));
        EXPECT_EQ(7u, dwExitCode);
    }
    glim::CScopedHandle hProcess;
    {
        CChildProcess child;
        // The hung stand-in never ends by itself: still running when the owner goes.
        ASSERT_EQ(0u, child.Start(CSettingsApp::ExePath(), settingsapp::kModeHung));
        EXPECT_TRUE(child.IsRunning());
        ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), child.Handle(), GetCurrentProcess(), hProcess.Put(),
                                    SYNCHRONIZE, FALSE, 0));
    }
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(hProcess.Get(), 0))
        << "the child outlived its owner";

    CChildProcess missing;
    SetLastError(0xdeadbeef);
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), missing.Start(strCmd + L".missing.exe", L""));
    EXPECT_FALSE(missing.WaitExit(0));
    EXPECT_FALSE(missing.IsRunning()) << "nothing was started";
}
