// glimsim.exe as scripts and the demo use it: each command's words and exit code, and the
// driver it installs staying installed after the tool ends.
#include <gtest/gtest.h>

#include <string>

#include "CapturedRun.h"
#include "DeviceFixture.h"
#include "GlimNames.h"

using namespace glimtest;

namespace {

constexpr DWORD kRunTimeoutMs = 30000;

struct SRun {
    DWORD dwExit = 0xdeadbeef;
    std::string output;
};

std::wstring GlimsimPath()
{
    std::wstring path = glimtest::DriverPathBesideProgram();
    return path.substr(0, path.find_last_of(L'\\') + 1) + L"glimsim.exe";
}

// Runs glimsim with the arguments; its output is plain ASCII.
SRun RunGlimsim(const std::wstring& args)
{
    SRun run;
    SCapturedRun captured;
    if (RunCaptured(GlimsimPath(), args, &captured, kRunTimeoutMs) == ERROR_SUCCESS) {
        run.dwExit = captured.dwExitCode;
        for (wchar_t ch : captured.strOut)
            run.output += static_cast<char>(ch);
    }
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
    for (const wchar_t* pszArgs :
         {L"", L"set", L"set x", L"set 99999999999", L"fail 2 maybe", L"fail -1 zero", L"driver", L"press now"})
        ExpectRun(pszArgs, 2, "usage:");
}

// Removes the driver glimsim installed, whatever the test did.
struct SDriverCleanup {
    ~SDriverCleanup() { glimtest::RemoveInstalledDriver(); }
};

TEST(GlimsimDriver, InstallOutlivesToolAndRemoveTakesItAway)
{
    SDriverCleanup cleanup;
    ASSERT_EQ(ERROR_SUCCESS, glimtest::RemoveInstalledDriver());
    ExpectRun(L"level", 1, "glimsim driver install");
    ExpectRun(L"driver install", 0);
    EXPECT_TRUE(glimtest::DeviceOpens());
    SRun run = RunGlimsim(L"driver status");
    EXPECT_TRUE(Has(run, "installed and running")) << run.output;

    ExpectRun(L"driver remove", 0);
    EXPECT_FALSE(glimtest::DeviceOpens());
    run = RunGlimsim(L"driver status");
    EXPECT_TRUE(Has(run, "not installed")) << run.output;
}

}  // namespace
