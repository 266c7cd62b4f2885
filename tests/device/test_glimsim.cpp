// glimsim.exe as scripts and the demo use it: each command's words and exit code, and the
// driver it installs staying installed after the tool ends.
#include <gtest/gtest.h>

#include <string>

#include "DeviceFixture.h"
#include "GlimNames.h"

namespace {

constexpr DWORD kRunTimeoutMs = 30000;

struct SRun {
    DWORD dwExit = 0xdeadbeef;
    std::string output;
};

std::wstring GlimsimPath()
{
    std::wstring path = simkb::DriverPathBesideProgram();
    return path.substr(0, path.find_last_of(L'\\') + 1) + L"glimsim.exe";
}

// Runs glimsim with the arguments; its output goes to a temporary file.
SRun RunGlimsim(const std::wstring& args)
{
    SRun run;
    wchar_t szDir[MAX_PATH] = {}, szFile[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, szDir);
    GetTempFileNameW(szDir, L"gsm", 0, szFile);
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    {
        glim::CScopedFile out(CreateFileW(szFile, GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr));
        if (!out)
            return run;
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdOutput = out.Get();
        si.hStdError = out.Get();
        std::wstring cmd = L"\"" + GlimsimPath() + L"\" " + args;
        PROCESS_INFORMATION pi = {};
        if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi))
            return run;
        glim::CScopedHandle process(pi.hProcess);
        glim::CScopedHandle thread(pi.hThread);
        if (WaitForSingleObject(pi.hProcess, kRunTimeoutMs) == WAIT_OBJECT_0)
            GetExitCodeProcess(pi.hProcess, &run.dwExit);
        else
            TerminateProcess(pi.hProcess, 1);
    }
    glim::CScopedFile in(CreateFileW(szFile, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    char szBuf[4096] = {};
    DWORD dwRead = 0;
    if (ReadFile(in.Get(), szBuf, sizeof(szBuf) - 1, &dwRead, nullptr))
        run.output.assign(szBuf, dwRead);
    DeleteFileW(szFile);
    return run;
}

bool Has(const SRun& run, const char* pszText)
{
    return run.output.find(pszText) != std::string::npos;
}

// Runs glimsim and checks its exit code and, when given, a text in its output.
SRun ExpectRun(const wchar_t* pszArgs, DWORD dwExit, const char* pszSays = nullptr)
{
    SRun run = RunGlimsim(pszArgs);
    const std::string args(pszArgs, pszArgs + wcslen(pszArgs));
    EXPECT_EQ(dwExit, run.dwExit) << "glimsim " << args << ": " << run.output;
    EXPECT_TRUE(!pszSays || Has(run, pszSays)) << "glimsim " << args << ": " << run.output;
    return run;
}

using Glimsim = CDriverTest;

TEST_F(Glimsim, SetLevelFailAndHistory)
{
    ExpectRun(L"set 12", 0, "Backlight level set to 12.");
    EXPECT_EQ(12, DriverLevel());
    ExpectRun(L"level", 0, "Backlight level is 12.");
    ExpectRun(L"fail 1 zero", 0);
    ExpectRun(L"set 3", 1, "0 bytes");
    EXPECT_EQ(12, DriverLevel());
    const SRun run = ExpectRun(L"history", 0, "3 backlight request(s)");
    EXPECT_TRUE(Has(run, "set level 3")) << run.output;
    ExpectRun(L"reset", 0);
    EXPECT_EQ(0, DriverLevel());
}

TEST_F(Glimsim, PressReportsWhetherAnyoneListens)
{
    ExpectRun(L"press", 1, "nobody listens");
    glim::CScopedHandle event(CreateEventW(nullptr, FALSE, FALSE, glim::kEventHotkey));
    ASSERT_NE(nullptr, event.Get());
    ExpectRun(L"press", 0, "Hotkey pressed:");
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event.Get(), 5000));
}

TEST_F(Glimsim, RefusesBadArguments)
{
    for (const wchar_t* pszArgs : {L"", L"set", L"set x", L"set 99999999999", L"fail 2 maybe", L"fail -1 zero", L"driver",
                                   L"press now"})
        ExpectRun(pszArgs, 2, "usage:");
}

// Removes the driver glimsim installed, whatever the test did.
struct SDriverCleanup {
    ~SDriverCleanup() { simkb::RemoveInstalledDriver(); }
};

TEST(GlimsimDriver, InstallOutlivesToolAndRemoveTakesItAway)
{
    SDriverCleanup cleanup;
    ASSERT_EQ(ERROR_SUCCESS, simkb::RemoveInstalledDriver());
    ExpectRun(L"level", 1, "glimsim driver install");
    ExpectRun(L"driver install", 0);
    EXPECT_TRUE(simkb::DeviceOpens());
    SRun run = RunGlimsim(L"driver status");
    EXPECT_TRUE(Has(run, "installed and running")) << run.output;

    ExpectRun(L"driver remove", 0);
    EXPECT_FALSE(simkb::DeviceOpens());
    run = RunGlimsim(L"driver status");
    EXPECT_TRUE(Has(run, "not installed")) << run.output;
}

}  // namespace
