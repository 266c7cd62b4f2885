// Glimagent.exe observed from outside: the role decision and the relays, the order of the
// notice to the settings application and the event, the status cycle in the settings
// file, the OSD's place, image and timing on screen, the settings notices, and the exit
// through the menu command.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Absence.h"
#include "AgentE2eTest.h"
#include "AgentProcess.h"
#include "SettingsApp.h"
#include "GlimNames.h"
#include "ScreenProbe.h"

using namespace glimtest;
using namespace glim;

namespace {

constexpr DWORD kRelayExitMs = 10000;

// Runs a relay to its end; its exit code, or a failure when it did not end in time.
::testing::AssertionResult RunRelay(const std::wstring& commandLine)
{
    return RunAgent(commandLine, kRelayExitMs);
}

class AgentProcessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        EndStrayAgents();
        ASSERT_EQ(nullptr, FindAgentWindow()) << "an agent main instance is still running";
        ResetSettings({{kKeyKBStatus, L"0"}});
    }
    void TearDown() override { EndStrayAgents(); }

    // Logs what the main instance started after this does into a scratch file.
    void LogToScratch() { ASSERT_TRUE(m_logConfig.Write(m_logPath, 0, 0)); }
    size_t LogCount(const std::wstring& message) const { return CountLines(m_logPath, message); }

    // Starts the test's main instance; the test fails when it does not come up.
    CMainAgent& StartMain()
    {
        EXPECT_TRUE(m_main.Start()) << "the main instance did not create its window and listeners";
        return m_main;
    }

    // Waits until the OSD of the main instance shows exactly the given cell.
    static ::testing::AssertionResult OsdShows(CMainAgent& main, int nCell, DWORD dwTimeoutMs = 5000)
    {
        return glimtest::OsdShows(main.Process().Pid(), nCell, dwTimeoutMs);
    }

    CTempFolder m_scratch;
    const std::wstring m_logPath = m_scratch.File(L"Glimagent.log");
    CAgentLogConfig m_logConfig;
    CMainAgent m_main;
};

// The DLL names of a program's import table (the libraries loaded at its start), lower
// case, read from the file.
bool ReadStartImports(const std::wstring& path, std::vector<std::string>* pNames)
{
    std::ifstream file(path.c_str(), std::ios::binary);
    const std::vector<char> image((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const auto* pDos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data());
    if (image.size() < sizeof(IMAGE_DOS_HEADER) ||
        static_cast<size_t>(pDos->e_lfanew) + sizeof(IMAGE_NT_HEADERS64) > image.size())
        return false;
    const auto* pNt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(image.data() + pDos->e_lfanew);
    if (pNt->Signature != IMAGE_NT_SIGNATURE || pNt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC)
        return false;
    const IMAGE_SECTION_HEADER* pSections = IMAGE_FIRST_SECTION(pNt);
    // A relative address as a pointer into the file; nullptr when no section holds it.
    auto at = [&](DWORD dwRva) -> const char* {
        for (WORD i = 0; i < pNt->FileHeader.NumberOfSections; ++i) {
            const IMAGE_SECTION_HEADER& section = pSections[i];
            if (dwRva >= section.VirtualAddress && dwRva < section.VirtualAddress + section.SizeOfRawData &&
                section.PointerToRawData + (dwRva - section.VirtualAddress) < image.size())
                return image.data() + section.PointerToRawData + (dwRva - section.VirtualAddress);
        }
        return nullptr;
    };
    const DWORD dwImports = pNt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    for (auto* p = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(at(dwImports)); p && p->Name; ++p) {
        std::string name(at(p->Name) ? at(p->Name) : "");
        for (char& c : name)
            c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        pNames->push_back(name);
    }
    return !pNames->empty();
}

bool Contains(const std::vector<std::string>& names, const char* pszName)
{
    return std::find(names.begin(), names.end(), pszName) != names.end();
}

}  // namespace

// A relay only finds windows, notifies one and signals an event: the libraries that only
// the main instance uses must not be loaded by every relay's start (the main instance's
// tests show they load when it first uses them).
TEST(AgentImageTest, MainInstanceLibrariesAreNotLoadedAtStart)
{
    std::vector<std::string> imports;
    ASSERT_TRUE(ReadStartImports(AgentPath(), &imports)) << "Glimagent.exe could not be read as a 64-bit image";
    EXPECT_TRUE(Contains(imports, "user32.dll")) << "the relay's own library";
    for (const char* pszDll : {"ole32.dll", "oleaut32.dll", "powrprof.dll", "shell32.dll", "shlwapi.dll"})
        EXPECT_FALSE(Contains(imports, pszDll)) << pszDll << " is loaded at every start";
}

TEST_F(AgentProcessTest, RelaysWithoutMainInstanceDoNothing)
{
    // Our own handles on the events: a signal from a relay would stay on them.
    const CScopedHandle hOsd(CreateEventW(nullptr, FALSE, FALSE, kEventHostOsd));
    const CScopedHandle hStatus(CreateEventW(nullptr, FALSE, FALSE, kEventHostStatusChange));
    ASSERT_TRUE(hOsd && hStatus);
    CSettingsApp settingsApp;
    ASSERT_EQ(0u, settingsApp.StartWindow());

    EXPECT_TRUE(RunRelay(L"cmd_service-2-osd"));
    EXPECT_TRUE(RunRelay(L"cmd_service-3-statuschange"));

    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(hOsd.Get(), 0));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(hStatus.Get(), 0));
    EXPECT_TRUE(settingsApp.ReadRecord().empty()) << "a relay without a main instance notified the settings app";
    EXPECT_EQ(nullptr, FindAgentWindow()) << "a relay became a main instance";
    EXPECT_EQ(0u, ReadNumber(kKeyKBStatus, 99));
}

TEST_F(AgentProcessTest, MainWindowIsHiddenAndOsdCreatedHidden)
{
    ResetSettings({{kKeyKBStatus, L"1"}});
    CMainAgent& main = StartMain();
    HWND hWnd = main.Window();
    EXPECT_FALSE(IsWindowVisible(hWnd));
    wchar_t szClass[64] = {};
    GetClassNameW(hWnd, szClass, 64);
    EXPECT_STREQ(L"GLIMAGENT", szClass);
    EXPECT_NE(nullptr, GetMenu(hWnd)) << "menu 109 missing from the window class";

    HWND hOsd = glimtest::FindOsd(main.Process().Pid());
    ASSERT_NE(nullptr, hOsd) << "no csl_osd window";
    EXPECT_FALSE(IsWindowVisible(hOsd)) << "the OSD must not show at start-up";
    EXPECT_EQ(0x08080008u, static_cast<DWORD>(GetWindowLongPtrW(hOsd, GWL_EXSTYLE)) & 0x08080008u);
    EXPECT_EQ(static_cast<LONG_PTR>(WS_POPUP), GetWindowLongPtrW(hOsd, GWL_STYLE) & WS_POPUP);

    // Start-up marks the settings file with an empty Undefine key.
    wchar_t szValue[16] = L"x";
    GetPrivateProfileStringW(kSettingsSection, kKeyUndefine, L"absent", szValue, 16, FilePath().c_str());
    EXPECT_STREQ(L"", szValue);
    EXPECT_EQ(1u, ReadNumber(kKeyKBStatus, 99)) << "start-up must not change the status";
}

TEST_F(AgentProcessTest, OsdRelayShowsStoredStatusAtItsPlace)
{
    ResetSettings({{kKeyKBStatus, L"1"}});
    CMainAgent& main = StartMain();

    // Other text around the command word: still a substring match.
    ASSERT_TRUE(RunRelay(L"x cmd_service-2-osd y"));
    ASSERT_TRUE(OsdShows(main, 1));
    EXPECT_TRUE(glimtest::OsdAtItsPlace(main.Process().Pid()));
    EXPECT_NE(0, GetWindowLongPtrW(glimtest::FindOsd(main.Process().Pid()), GWL_EXSTYLE) & WS_EX_TOPMOST);

    EXPECT_EQ(1u, ReadNumber(kKeyKBStatus, 99)) << "the OSD relay must not change the status";
    EXPECT_TRUE(main.Process().IsRunning());
}

TEST_F(AgentProcessTest, CapitalWordsAndPlainStartsLeaveTheFirstInstance)
{
    CMainAgent& main = StartMain();
    HWND hWnd = main.Window();
    const DWORD dwPid = main.Process().Pid();

    EXPECT_TRUE(RunRelay(L"CMD_SERVICE-2-OSD"));
    EXPECT_TRUE(RunRelay(L"Cmd_service-3-statuschange"));
    EXPECT_TRUE(RunRelay(L"Glimagent.exe"));
    EXPECT_TRUE(RunRelay(L""));

    EXPECT_EQ(hWnd, FindAgentWindow());
    EXPECT_TRUE(main.Process().IsRunning());
    // The sentinel: a status relay after them is handled (status 1, its OSD on cell 1). A
    // relayed capitalised word would have shown the OSD on cell 0 or moved the status to 2.
    ASSERT_TRUE(RunRelay(L"cmd_service-3-statuschange"));
    EXPECT_TRUE(
        NothingUntil([&] { return (OsdVisible(dwPid) && HighlightedCell() == 0) || ReadNumber(kKeyKBStatus, 99) == 2; },
                     [&] { return ReadNumber(kKeyKBStatus, 99) == 1 && OsdVisible(dwPid) && HighlightedCell() == 1; },
                     "the status relay after them", 5000))
        << "a capitalised word was relayed";
}

TEST_F(AgentProcessTest, StatusRelayCyclesAndShowsEachStatus)
{
    CMainAgent& main = StartMain();
    for (DWORD dwNext : {1u, 2u, 0u}) {
        ASSERT_TRUE(RunRelay(L"cmd_service-3-statuschange"));
        EXPECT_TRUE(WaitUntil([&] { return ReadNumber(kKeyKBStatus, 99) == dwNext; }, 5000))
            << "KBStatus stayed " << ReadNumber(kKeyKBStatus, 99) << ", wanted " << dwNext;
        EXPECT_TRUE(OsdShows(main, static_cast<int>(dwNext)));
    }
}

TEST_F(AgentProcessTest, OsdHidesThreeSecondsAfterTheLatestShow)
{
    CMainAgent& main = StartMain();
    const DWORD dwPid = main.Process().Pid();

    ASSERT_TRUE(RunRelay(L"cmd_service-2-osd"));
    ASSERT_TRUE(OsdShows(main, 0));
    const ULONGLONG ullShown = GetTickCount64();
    ASSERT_TRUE(WaitUntil([&] { return !OsdVisible(dwPid); }, 6000)) << "the OSD did not hide";
    const ULONGLONG ullHidden = GetTickCount64() - ullShown;
    EXPECT_GE(ullHidden, 2500u);
    EXPECT_LE(ullHidden, 4500u);

    // A second show within the three seconds switches the image at once and restarts them.
    ASSERT_TRUE(RunRelay(L"cmd_service-2-osd"));
    ASSERT_TRUE(OsdShows(main, 0));
    const ULONGLONG ullFirst = GetTickCount64();
    WaitUntil([] { return false; }, 1800);
    WriteKey(kKeyKBStatus, L"2");
    ASSERT_TRUE(RunRelay(L"cmd_service-2-osd"));
    ASSERT_TRUE(OsdShows(main, 2, 1000)) << "the second show did not switch the image";
    const ULONGLONG ullSecond = GetTickCount64();
    // The hide is the sentinel: it comes past the first show's three seconds, so that
    // show's timer did not hide the OSD before.
    ASSERT_TRUE(WaitUntil([&] { return !OsdVisible(dwPid); }, 5000));
    EXPECT_GE(GetTickCount64() - ullFirst, 3800u) << "the second show did not restart the hide timer";
    const ULONGLONG ullAfterSecond = GetTickCount64() - ullSecond;
    EXPECT_GE(ullAfterSecond, 2500u);
    EXPECT_LE(ullAfterSecond, 4500u);
}

// The other kinds are checked through the log and the driver in the whole-system tests.
TEST_F(AgentProcessTest, StatusNoticeShowsTheNewStatusMissingKindNothing)
{
    ResetSettings({{kKeyKBStatus, L"1"}});
    ASSERT_NO_FATAL_FAILURE(LogToScratch());
    CMainAgent& main = StartMain();
    const DWORD dwPid = main.Process().Pid();

    // No kind stored: the notice carries -1 and does nothing. Its keys are read once the
    // line says so; only then may the next notice's keys be written.
    ASSERT_TRUE(SignalExistingEvent(kEventUwp));
    ASSERT_TRUE(WaitUntil([&] { return LogCount(L"wparam is -1, lparam is 0") == 1; }, 5000));

    // Kind 0: the settings application changed the status; it is applied and shown. The
    // listener handles it after the first notice, so its OSD is the sentinel: no OSD of
    // status 1 before it.
    WriteKey(kKeyKBStatus, L"2");
    WriteKey(kKeyUwpwParam, L"0");
    ASSERT_TRUE(SignalExistingEvent(kEventUwp));
    EXPECT_TRUE(NothingUntil([&] { return OsdVisible(dwPid) && HighlightedCell() == 1; },
                             [&] { return OsdVisible(dwPid) && HighlightedCell() == 2; }, "the kind 0 notice's OSD",
                             5000))
        << "the notice without a kind showed the OSD";
    EXPECT_TRUE(OsdShows(main, 2));
    EXPECT_EQ(2u, ReadNumber(kKeyKBStatus, 99)) << "a settings notice must not advance the status";
}

TEST_F(AgentProcessTest, ExitCommandFromAnotherProcessEndsTheMainInstance)
{
    {
        CMainAgent& main = StartMain();
        const DWORD dwPid = main.Process().Pid();
        ASSERT_TRUE(main.Exit()) << "IDM_EXIT did not end the main instance";
        DWORD dwCode = 0xdeadbeef;
        ASSERT_TRUE(GetExitCodeProcess(main.Process().Handle(), &dwCode));
        EXPECT_EQ(0u, dwCode);
        EXPECT_EQ(nullptr, FindAgentWindow());
        EXPECT_EQ(nullptr, glimtest::FindOsd(dwPid));
        SetLastError(0xdeadbeef);
        EXPECT_EQ(nullptr, OpenMutexW(SYNCHRONIZE, FALSE, kMutexAgentMain));
        EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    }
    // A new agent can become the main instance and works.
    CMainAgent second;
    ASSERT_TRUE(second.Start()) << "the main instance did not create its window and listeners";
    ASSERT_TRUE(RunRelay(L"cmd_service-3-statuschange"));
    EXPECT_TRUE(WaitUntil([] { return ReadNumber(kKeyKBStatus, 99) == 1; }, 5000));
}

// A full-screen period (as the check would report it) holds the hotkey: the status stays
// and no OSD shows, until the period ends. Repeated verdicts change nothing.
TEST_F(AgentProcessTest, HotkeyIsIgnoredDuringAFullScreenPeriod)
{
    ASSERT_NO_FATAL_FAILURE(LogToScratch());
    CMainAgent& main = StartMain();
    const DWORD dwPid = main.Process().Pid();
    HWND hWnd = main.Window();

    EXPECT_EQ(0, SendMessageW(hWnd, WM_FULLSCREEN, 1, 0));
    EXPECT_EQ(0, SendMessageW(hWnd, WM_FULLSCREEN, 1, 0));
    ASSERT_TRUE(RunRelay(L"cmd_service-3-statuschange"));
    // The sentinel: the press reached the window (its line), and the window's thread is past
    // that handler.
    EXPECT_TRUE(NothingUntil([&] { return OsdVisible(dwPid) || ReadNumber(kKeyKBStatus, 99) != 0; },
                             [&] { return LogCount(L"WM_F12") == 1 && WindowThreadPassed(hWnd); },
                             "the press handled by the main window", 5000))
        << "a hotkey press during a full-screen period changed the status or showed the OSD";

    // Only the low 32 bits count: this verdict means "not full screen" and ends the period.
    EXPECT_EQ(0, SendMessageW(hWnd, WM_FULLSCREEN, static_cast<WPARAM>(0x100000000ull), 0));
    ASSERT_TRUE(RunRelay(L"cmd_service-3-statuschange"));
    EXPECT_TRUE(WaitUntil([] { return ReadNumber(kKeyKBStatus, 99) == 1; }, 5000));
    EXPECT_TRUE(OsdShows(main, 1));

    // Key presses reaching the hidden window are swallowed; lux reports are answered.
    EXPECT_EQ(0, SendMessageW(hWnd, WM_KEYDOWN, VK_F12, 0));
    EXPECT_EQ(0, SendMessageW(hWnd, WM_LUX, 37, 0));
    EXPECT_TRUE(main.Process().IsRunning());
}

TEST_F(AgentProcessTest, AboutCommandShowsTheAboutBoxUntilOk)
{
    CMainAgent& main = StartMain();
    HWND hDialog = nullptr;
    ASSERT_TRUE(PostMessageW(main.Window(), WM_COMMAND, MAKEWPARAM(104, 0), 0));
    ASSERT_TRUE(WaitUntil(
        [&] {
            hDialog = glimtest::FindWindowOfClass(main.Process().Pid(), L"#32770");  // the dialog class
            return hDialog != nullptr;
        },
        5000))
        << "no About box";
    // The dialog's window exists a moment before its controls.
    EXPECT_TRUE(WaitUntil([&] { return GetDlgItem(hDialog, IDOK) != nullptr; }, 5000)) << "About box without OK";
    EXPECT_EQ(main.Window(), GetWindow(hDialog, GW_OWNER));

    // The box is modal: OK ends it and the agent carries on.
    PostMessageW(hDialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(hDialog); }, 5000));
    ASSERT_TRUE(RunRelay(L"cmd_service-2-osd"));
    EXPECT_TRUE(OsdShows(main, 0));
}

// A status without an image: the window comes up but shows nothing (all colour key); the
// next valid status shows normally.
TEST_F(AgentProcessTest, UnknownStatusShowsNothingUntilAValidOne)
{
    ResetSettings({{kKeyKBStatus, L"3"}});
    CMainAgent& main = StartMain();
    const DWORD dwPid = main.Process().Pid();

    ASSERT_TRUE(RunRelay(L"cmd_service-2-osd"));
    ASSERT_TRUE(WaitUntil([&] { return OsdVisible(dwPid); }, 5000));
    // The sentinel: the main window's thread is past the show, so whatever it draws is drawn.
    ASSERT_TRUE(WindowThreadPassed(main.Window()));
    const RECT rc = glimtest::ExpectedOsdRect();
    for (int i = 0; i < 3; ++i) {
        const COLORREF c = glimtest::ScreenPixel(rc.left + i * 96 + 4, rc.top + 4);
        EXPECT_NE(glimtest::kHighlight, c) << "cell " << i;
        EXPECT_NE(glimtest::kPlainCell, c) << "cell " << i;
    }
    EXPECT_EQ(3u, ReadNumber(kKeyKBStatus, 99));

    WriteKey(kKeyKBStatus, L"1");
    ASSERT_TRUE(RunRelay(L"cmd_service-2-osd"));
    EXPECT_TRUE(OsdShows(main, 1));
}
