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

using Glimsim = CDriverTest;

TEST_F(Glimsim, SetLevelFailAndHistory)
{
    SRun run = RunGlimsim(L"set 12");
    EXPECT_EQ(0u, run.dwExit) << run.output;
    EXPECT_TRUE(Has(run, "Backlight level set to 12.")) << run.output;
    EXPECT_EQ(12, DriverLevel());

    run = RunGlimsim(L"level");
    EXPECT_EQ(0u, run.dwExit) << run.output;
    EXPECT_TRUE(Has(run, "Backlight level is 12.")) << run.output;

    run = RunGlimsim(L"fail 1 zero");
    EXPECT_EQ(0u, run.dwExit) << run.output;
    run = RunGlimsim(L"set 3");
    EXPECT_EQ(1u, run.dwExit) << run.output;
    EXPECT_TRUE(Has(run, "0 bytes")) << run.output;
    EXPECT_EQ(12, DriverLevel());

    run = RunGlimsim(L"history");
    EXPECT_EQ(0u, run.dwExit) << run.output;
    EXPECT_TRUE(Has(run, "3 backlight request(s)")) << run.output;
    EXPECT_TRUE(Has(run, "set level 3")) << run.output;

    run = RunGlimsim(L"reset");
    EXPECT_EQ(0u, run.dwExit) << run.output;
    EXPECT_EQ(0, DriverLevel());
}

TEST_F(Glimsim, PressReportsWhetherAnyoneListens)
{
    SRun run = RunGlimsim(L"press");
    EXPECT_EQ(1u, run.dwExit) << run.output;
    EXPECT_TRUE(Has(run, "nobody listens")) << run.output;

    glim::CScopedHandle event(CreateEventW(nullptr, FALSE, FALSE, glim::kEventHotkey));
    ASSERT_NE(nullptr, event.Get());
    run = RunGlimsim(L"press");
    EXPECT_EQ(0u, run.dwExit) << run.output;
    EXPECT_TRUE(Has(run, "Hotkey pressed:")) << run.output;
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event.Get(), 5000));
}

TEST_F(Glimsim, RefusesBadArguments)
{
    for (const char* pszArgs : {"", "set", "set x", "set 99999999999", "fail 2 maybe", "fail -1 zero", "driver", "press now"}) {
        const std::string narrow(pszArgs);
        const SRun run = RunGlimsim(std::wstring(narrow.begin(), narrow.end()));
        EXPECT_EQ(2u, run.dwExit) << "args '" << narrow << "': " << run.output;
        EXPECT_TRUE(Has(run, "usage:")) << run.output;
    }
}

// Removes the driver glimsim installed, whatever the test did.
struct SDriverCleanup {
    ~SDriverCleanup() { simkb::RemoveInstalledDriver(); }
};

TEST(GlimsimDriver, InstallOutlivesToolAndRemoveTakesItAway)
{
    SDriverCleanup cleanup;
    ASSERT_EQ(ERROR_SUCCESS, simkb::RemoveInstalledDriver());
    SRun run = RunGlimsim(L"level");
    EXPECT_EQ(1u, run.dwExit) << run.output;
    EXPECT_TRUE(Has(run, "glimsim driver install")) << run.output;

    run = RunGlimsim(L"driver install");
    EXPECT_EQ(0u, run.dwExit) << run.output;
    EXPECT_TRUE(simkb::DeviceOpens()) << run.output;
    run = RunGlimsim(L"driver status");
    EXPECT_TRUE(Has(run, "installed and running")) << run.output;

    run = RunGlimsim(L"driver remove");
    EXPECT_EQ(0u, run.dwExit) << run.output;
    EXPECT_FALSE(simkb::DeviceOpens());
    run = RunGlimsim(L"driver status");
    EXPECT_TRUE(Has(run, "not installed")) << run.output;
}

}  // namespace
