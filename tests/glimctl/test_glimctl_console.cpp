// glimctl follows console conventions: help on request goes to standard output and succeeds;
// a mistake gets the usage on standard error and exit code 2, with nothing on standard output.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "CapturedRun.h"
#include "ServiceHarness.h"

namespace {

glimtest::SCapturedRun RunCtl(const std::wstring& strArgs)
{
    glimtest::SCapturedRun run;
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              glimtest::RunCapturedApart(glimtest::BuildBinPath(L"glimctl.exe"), strArgs, &run))
        << strArgs;
    return run;
}

// Every verb has a line of its own, each with one sentence.
void ExpectUsageLines(const std::wstring& strText)
{
    for (const wchar_t* pszVerb : {L"doctor", L"status", L"set status", L"set level", L"set idle", L"set fullscreen",
                                   L"set titles", L"report", L"--version", L"--help"}) {
        const size_t nAt = strText.find(std::wstring(L"\n  ") + pszVerb);
        ASSERT_NE(std::wstring::npos, nAt) << pszVerb << " has no line of its own:\n" << strText;
        const std::wstring strLine = strText.substr(nAt + 1, strText.find(L'\n', nAt + 1) - nAt - 1);
        EXPECT_EQ(strLine.size() - 1, strLine.find(L'.')) << "one sentence, ending the line: " << strLine;
    }
}

}  // namespace

TEST(GlimctlConsole, HelpOnRequestSucceedsOnStandardOutput)
{
    for (const wchar_t* pszArgs : {L"--help", L"-h", L"/?", L"--help doctor"}) {
        SCOPED_TRACE(pszArgs);
        const glimtest::SCapturedRun run = RunCtl(pszArgs);
        EXPECT_EQ(0u, run.dwExitCode);
        EXPECT_EQ(0u, run.strOut.find(L"usage: glimctl")) << run.strOut;
        ExpectUsageLines(run.strOut);
        EXPECT_EQ(L"", run.strErr);
    }
}

TEST(GlimctlConsole, MistakesGetTheUsageOnStandardErrorAndExitTwo)
{
    struct {
        const wchar_t* pszArgs;
        const wchar_t* pszSays;
    } const cases[] = {
        {L"", L"usage: glimctl"},
        {L"frobnicate", L"usage: glimctl"},
        {L"--helpme", L"usage: glimctl"},
        {L"-H", L"usage: glimctl"},
        {L"--version now", L"usage: glimctl"},
        {L"--json --version", L"usage: glimctl"},
        {L"doctor --verbose", L"usage: glimctl"},
        {L"set level 11", L"0 to 10"},
        {L"set fullscreen maybe", L"on or off"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszArgs);
        const glimtest::SCapturedRun run = RunCtl(c.pszArgs);
        EXPECT_EQ(2u, run.dwExitCode);
        EXPECT_EQ(L"", run.strOut);
        EXPECT_NE(std::wstring::npos, run.strErr.find(c.pszSays)) << run.strErr;
        ExpectUsageLines(run.strErr);
    }
}
