// Faults, load and bad input through the installed Glimward.exe and Glimagent.exe: each
// may cost a delay or a log line, never a crash, a hang, a lost press, a wrong level or a
// process left behind. The figures each test saw are printed (RecordProperty and stdout).
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "GlimNames.h"
#include "InstalledSystemTest.h"
#include "LogFile.h"
#include "Scm.h"
#include "ServiceHarness.h"
#include "SettingsFile.h"
#include "SettingsFileTools.h"
#include "SimDriver.h"
#include "SimDriverChecks.h"

using namespace glimtest;

namespace {

// Past the service's 500 ms hotkey interval.
constexpr DWORD kPressGapMs = 700;

void Figure(const char* pszWhat, long long llValue)
{
    std::printf("[ figure   ] %s = %lld\n", pszWhat, llValue);
    std::fflush(stdout);
    ::testing::Test::RecordProperty(pszWhat, std::to_string(llValue));
}

void Pause(DWORD dwMs)
{
    const ULONGLONG ullUntil = GetTickCount64() + dwMs;
    WaitUntil([&] { return GetTickCount64() >= ullUntil; }, dwMs + 1000);
}

// The level the driver holds now; -1 while it cannot be read (no failure: callers poll).
long LevelNow()
{
    LONG lLevel = -1;
    return glimtest::Level(&lLevel) ? lLevel : -1;
}

// The status after a hotkey step from the one the file holds: Off -> On -> Auto -> Off.
int StepOf(int nStatus)
{
    return nStatus == 0 ? 1 : nStatus == 1 ? 2 : 0;
}

// Holds a named mutex from this process until destroyed (or Release()).
class CHeldMutex {
public:
    explicit CHeldMutex(const wchar_t* pszName) : m_hMutex(CreateMutexW(nullptr, FALSE, pszName))
    {
        m_bHeld = m_hMutex && WaitForSingleObject(m_hMutex.Get(), 5000) == WAIT_OBJECT_0;
    }
    virtual ~CHeldMutex() { Release(); }
    CHeldMutex(const CHeldMutex&) = delete;
    CHeldMutex& operator=(const CHeldMutex&) = delete;
    bool Held() const { return m_bHeld; }
    void Release()
    {
        if (m_bHeld)
            ReleaseMutex(m_hMutex.Get());
        m_bHeld = false;
    }

private:
    glim::CScopedHandle m_hMutex;
    bool m_bHeld = false;
};

class Reliability : public CInstalledSystemTest {
protected:
    // A press and the milliseconds until KBStatus shows nStatus (or the wait ends).
    ULONGLONG PressAndTime(int nStatus, DWORD dwTimeoutMs = kWaitMs)
    {
        const ULONGLONG ullStart = GetTickCount64();
        Press();
        EXPECT_TRUE(WaitForStatus(nStatus, dwTimeoutMs)) << "KBStatus " << Status() << ", wanted " << nStatus;
        return GetTickCount64() - ullStart;
    }

    // The stand-in heard of every accepted press, the main instance handled each, and no
    // relay is left: success once all three hold, else what was seen.
    ::testing::AssertionResult SettledAfter(int nAccepted, size_t nNoticesBefore = 0, size_t nHandledBefore = 0)
    {
        const size_t nWanted = static_cast<size_t>(nAccepted);
        size_t nNotices = 0, nHandled = 0, nRelays = 0;
        if (WaitUntil(
                [&] {
                    nNotices = m_app.ReadRecord().size();
                    nHandled = AgentLogCount(L"F12 Fressed", L"CKBBackLightMgr::GetHostStatusChangeThread");
                    nRelays = RelaysRunning();
                    return nNotices == nNoticesBefore + nWanted && nHandled == nHandledBefore + nWanted && nRelays == 0;
                },
                20000))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure()
            << "accepted " << nAccepted << ", notices " << nNotices - nNoticesBefore << ", handled "
            << nHandled - nHandledBefore << ", relays running " << nRelays;
    }
};

}  // namespace

// Bursts and random spacing for 40 s with the settings application up: one status step and
// one notice per accepted press, the level of the final status, no relay left, and the
// service and the main instance no bigger than before. The slack: the system may open a
// few handles of its own on first use of a facility (8 handles, where they are reported),
// Wine may start a service thread of its own (2 threads), and a heap grows in whole
// arenas and keeps freed pages (4 MiB); a leak per press over ~40 accepted presses shows
// above each.
TEST_F(Reliability, HotkeyUnderLoad)
{
    ASSERT_NO_FATAL_FAILURE(StartSystem(0, false));
    // One round first, so that first-use costs (OSD, launcher) are behind the "before" figures.
    for (int nStatus : {1, 2, 0}) {
        PressAndTime(nStatus);
        Pause(kPressGapMs);
    }
    ASSERT_TRUE(SettledAfter(3));
    SWatched watched[2] = {};
    const bool bWatch = glimtest::LinuxProcReadable();
    if (bWatch) {
        ASSERT_TRUE(Watch(&watched[0], &watched[1]))
            << "the Wine processes of the service and the main instance were not found";
    }
    glimtest::SUsage before[2], after[2];
    for (int i = 0; bWatch && i < 2; ++i)
        ASSERT_TRUE(glimtest::ReadUsage(watched[i].dwWindowsPid, watched[i].dwLinuxPid, &before[i]));

    std::mt19937 rng(9);
    int nSent = 0;
    const ULONGLONG ullEnd = GetTickCount64() + 40000;
    while (GetTickCount64() < ullEnd) {
        const int nBurst = std::uniform_int_distribution<int>(1, 4)(rng);
        for (int i = 0; i < nBurst; ++i, ++nSent) {
            ASSERT_NO_FATAL_FAILURE(Press());
            Pause(std::uniform_int_distribution<DWORD>(40, 150)(rng));
        }
        Pause(std::uniform_int_distribution<DWORD>(100, 1400)(rng));
    }
    Pause(1000);  // the service has woken for the last press
    const int nAccepted = Accepted();
    ASSERT_TRUE(SettledAfter(nAccepted));
    const int nStatus = nAccepted % 3;
    EXPECT_TRUE(WaitForStatus(nStatus)) << "KBStatus " << Status() << " after " << nAccepted << " accepted presses";
    EXPECT_EQ(static_cast<size_t>(nAccepted),
              AgentLogCount(L"nextstatus is 0") + AgentLogCount(L"nextstatus is 1") +
                  AgentLogCount(L"nextstatus is 2"));
    // Auto keeps the On level while no light sensor reports.
    EXPECT_TRUE(WaitUntil([&] { return LevelNow() == (nStatus == 0 ? 0 : kBrightness); }, kWaitMs))
        << "level " << LevelNow() << " in status " << nStatus;
    Figure("presses_sent", nSent + 3);
    Figure("presses_accepted", nAccepted);
    Figure("presses_handled", static_cast<long long>(AgentLogCount(L"F12 Fressed")));

    if (!bWatch) {
        std::printf("[ note     ] threads and memory not watched: no Linux /proc here\n");
        return;
    }
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(testing::Message() << watched[i].pszWhat);
        ASSERT_TRUE(glimtest::ReadUsage(watched[i].dwWindowsPid, watched[i].dwLinuxPid, &after[i]));
        const std::string what = i == 0 ? "service" : "main";
        Figure((what + "_handles_before").c_str(), before[i].dwHandles);
        Figure((what + "_handles_after").c_str(), after[i].dwHandles);
        Figure((what + "_threads_before").c_str(), before[i].dwThreads);
        Figure((what + "_threads_after").c_str(), after[i].dwThreads);
        Figure((what + "_rss_kb_before").c_str(), static_cast<long long>(before[i].ullRssKb));
        Figure((what + "_rss_kb_after").c_str(), static_cast<long long>(after[i].ullRssKb));
        if (before[i].dwHandles) {  // Windows reports them; Wine answers 0 for another process
            EXPECT_LE(after[i].dwHandles, before[i].dwHandles + 8);
        }
        EXPECT_LE(after[i].dwThreads, before[i].dwThreads + 2);
        EXPECT_LE(after[i].ullRssKb, before[i].ullRssKb + 4096);
    }
}

// The driver stopped and removed under both programs: presses still cycle the status,
// unlocked and locked, without a level; loaded again, the next press sets the level with
// neither program restarted.
TEST_F(Reliability, DriverGoneAndBack)
{
    ASSERT_NO_FATAL_FAILURE(StartSystem(0, false));
    const DWORD dwServicePid = glimtest::ServiceProcessId(glim::kServiceName);
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), m_driver.Remove());
    ASSERT_FALSE(glimtest::DeviceOpens());

    PressEvent();
    ASSERT_TRUE(WaitForStatus(1)) << "unlocked press without the driver: KBStatus " << Status();
    Pause(kPressGapMs);
    ASSERT_NO_FATAL_FAILURE(SetLocked(true));
    PressEvent();
    ASSERT_TRUE(WaitForStatus(0)) << "locked press without the driver: KBStatus " << Status();
    ASSERT_TRUE(WaitForAgentLog(L"F12 Fressed, only show osd", L"CKBBackLightMgr::GetHostOsdThread", 1));
    EXPECT_EQ(0, m_settings.Get(glim::kKeyCurrentKBBrightness)) << "a level no device took was recorded";
    EXPECT_TRUE(WaitUntil([&] { return RelaysRunning() == 0; }, kWaitMs));

    ASSERT_NO_FATAL_FAILURE(SetLocked(false));
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), m_driver.Install());
    Pause(kPressGapMs);
    PressAndTime(1);
    EXPECT_TRUE(LevelsAre({kBrightness}));
    EXPECT_EQ(kBrightness, m_settings.Get(glim::kKeyCurrentKBBrightness));
    EXPECT_EQ(dwServicePid, glimtest::ServiceProcessId(glim::kServiceName));
    EXPECT_TRUE(m_main.Process().IsRunning());
}

// Requests that fail, or succeed with 0 bytes, on every road that sets a level: the status
// still advances, and CurrentKBBrightness keeps the last level a device accepted.
TEST_F(Reliability, DeviceFailures)
{
    ASSERT_NO_FATAL_FAILURE(StartSystem(0, false));
    for (simkb::SimFailMode mode : {simkb::SimFailError, simkb::SimFailZero}) {
        SCOPED_TRACE(testing::Message() << "failure mode " << mode);
        m_settings.Set(glim::kKeyKBStatus, 0);
        m_settings.Set(glim::kKeyKBBrightness, kBrightness);
        m_settings.Set(glim::kKeyCurrentKBBrightness, 3);
        Pause(kPressGapMs);

        // Unlocked press, the agent's set fails.
        ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), glimtest::ClearHistory());
        ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), glimtest::FailNext(1, mode));
        PressAndTime(1);
        EXPECT_TRUE(LevelsAre({kBrightness}));  // asked for, not taken
        EXPECT_EQ(3, m_settings.Get(glim::kKeyCurrentKBBrightness));

        // A level change announced by the settings application, the agent's set fails, then
        // the same without a failure.
        for (bool bFail : {true, false}) {
            ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), glimtest::ClearHistory());
            if (bFail) {
                ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), glimtest::FailNext(1, mode));
            }
            DWORD dwExit = 0xdeadbeef;
            ASSERT_EQ(
                0u, CSettingsApp::RunNotify(CNotifyRequest().Set(glim::kKeyKBBrightness, L"8").Params(1, 0), &dwExit));
            ASSERT_EQ(0u, dwExit);
            ASSERT_TRUE(WaitUntil([] { return glimtest::SetRequests().size() >= 1; }, kWaitMs));
            EXPECT_TRUE(LevelsAre({8}));
            EXPECT_EQ(bFail ? 3 : 8, m_settings.Get(glim::kKeyCurrentKBBrightness));
        }

        // Locked presses: the service's set succeeds (On -> Off), then fails (Off -> On).
        ASSERT_NO_FATAL_FAILURE(SetLocked(true));
        Pause(kPressGapMs);
        PressAndTime(0);
        EXPECT_TRUE(WaitUntil([&] { return m_settings.Get(glim::kKeyCurrentKBBrightness) == 0; }, kWaitMs));
        Pause(kPressGapMs);
        ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), glimtest::FailNext(1, mode));
        PressAndTime(1);
        Pause(500);
        EXPECT_EQ(0, m_settings.Get(glim::kKeyCurrentKBBrightness));
        EXPECT_EQ(0, LevelNow());
        ASSERT_NO_FATAL_FAILURE(SetLocked(false));
        ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), glimtest::ClearHistory());
    }
    EXPECT_TRUE(ServiceRuns());
    EXPECT_TRUE(m_main.Process().IsRunning());
}

// Every key malformed at once when both programs start; then statuses out of range and
// garbage notices while they run. Values full of format directives catch a value used as a
// format; over-long values catch a copy without a bound.
TEST_F(Reliability, MalformedSettings)
{
    const std::wstring formats = L"%s%n%x%ls%S%p";
    std::wstring titles;
    while (titles.size() < 6000)
        titles += formats + L";";
    const std::pair<const wchar_t*, std::wstring> keys[] = {
        {glim::kKeyKBStatus, L"7"},
        {glim::kKeyKBBrightness, L"99999999999999999999"},
        {glim::kKeyCurrentKBBrightness, L"-5"},
        {glim::kKeyInActiveTime, std::wstring(300, L'9') + L"\x79d2"},
        {glim::kKeyFullScreen5sClose, formats},
        {glim::kKeyFullScreenScope, titles},
        {glim::kKeyDarknessLux, L"abc"},
        {glim::kKeyDimIndoorsLux, L"-99999999999999999999"},
        {glim::kKeyAmbientChangeTime, L"-5"},
        {glim::kKeyUwpwParam, formats},
        {glim::kKeyUwplParam, L"99999999999999999999"},
    };
    ASSERT_EQ(0u, glimtest::CreateUnicodeFile());
    for (const auto& key : keys)
        ASSERT_TRUE(glimtest::WriteKey(key.first, key.second));
    ASSERT_NO_FATAL_FAILURE(SetLocked(false));
    ASSERT_NO_FATAL_FAILURE(StartPrograms(1));

    // Statuses out of range come back into Off -> On -> Auto at the next press.
    const struct {
        const wchar_t* pszStatus;
        int nNext;
    } statuses[] = {{L"7", 0}, {L"-5", 0}, {L"abc", 1}, {L"99999999999999999999", 0}, {L"", 1}};
    for (const auto& row : statuses) {
        SCOPED_TRACE(testing::Message() << "KBStatus=" << testing::PrintToString(std::wstring(row.pszStatus)));
        ASSERT_TRUE(glimtest::WriteKey(glim::kKeyKBStatus, row.pszStatus));
        Pause(kPressGapMs);
        PressAndTime(row.nNext);
        Pause(kPressGapMs);
        PressAndTime(StepOf(row.nNext));
    }

    // Garbage notice kinds and arguments: each is read and logged, and neither program ends.
    const struct {
        const wchar_t* pszKind;
        const wchar_t* pszArgument;
    } notices[] = {{L"7", L"%s%n"}, {L"-5", L"99999999999999999999"}, {L"%n%s%n", L"-1"}, {L"4294967296", L"abc"}};
    auto noticesTaken = [&] {
        size_t n = 0;
        for (const std::wstring& text : glimtest::ReadLines(m_agentLogPath)) {
            glimtest::ParsedLine line;
            n += glimtest::ParseLine(text, &line) && line.function == L"CKBBackLightMgr::GetUWPMessageThread" ? 1 : 0;
        }
        return n;
    };
    size_t nTaken = noticesTaken();
    for (const auto& row : notices) {
        SCOPED_TRACE(testing::Message() << "UwpwParam " << testing::PrintToString(std::wstring(row.pszKind)));
        DWORD dwExit = 0xdeadbeef;
        ASSERT_EQ(0u,
                  CSettingsApp::RunNotify(
                      CNotifyRequest().Set(glim::kKeyUwpwParam, row.pszKind).Set(glim::kKeyUwplParam, row.pszArgument),
                      &dwExit));
        ASSERT_EQ(0u, dwExit);
        EXPECT_TRUE(WaitUntil([&] { return noticesTaken() > nTaken; }, kWaitMs)) << "the notice was not taken";
        nTaken = noticesTaken();
    }
    EXPECT_TRUE(ServiceRuns());
    EXPECT_TRUE(m_main.Process().IsRunning());
}

// No settings file, then no data folder: both programs start and stay up, and the hotkey
// still reaches the main instance (without a folder no status can be written).
TEST_F(Reliability, MissingSettings)
{
    struct CFolderBack {
        ~CFolderBack() { glimtest::EnsureFolder(); }
    } folderBack;
    const struct {
        const char* pszWhat;
        bool bFolder;
    } rows[] = {{"settings file missing", true}, {"data folder missing", false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.pszWhat);
        glimtest::ScmRemove(glim::kServiceName);
        m_main.Process().Terminate();
        glimtest::EndStrayAgents();
        m_app.Stop();
        ASSERT_EQ(0u, glimtest::RemoveFile());
        if (!row.bFolder) {
            m_log.Delete();
            ASSERT_TRUE(RemoveDirectoryW(glimtest::FolderPath().c_str())) << "error " << GetLastError();
        }
        ASSERT_NO_FATAL_FAILURE(SetLocked(false));
        ASSERT_NO_FATAL_FAILURE(StartPrograms(1));
        const size_t nNotices = m_app.ReadRecord().size();
        const size_t nHandled = AgentLogCount(L"F12 Fressed", L"CKBBackLightMgr::GetHostStatusChangeThread");
        Press();
        ASSERT_TRUE(SettledAfter(1, nNotices, nHandled));
        if (row.bFolder) {
            EXPECT_TRUE(WaitForStatus(1));
        }
        bool bExists = true;
        glimtest::ReadRawFile(&bExists);
        EXPECT_EQ(row.bFolder, bExists);
        Pause(kPressGapMs);
        EXPECT_TRUE(ServiceRuns());
        EXPECT_TRUE(m_main.Process().IsRunning());
    }
}

// A peer holding "mut_conf" for 5 s: each settings access waits at most 3 s and then goes
// ahead, so presses are late but none is lost, on both roads.
TEST_F(Reliability, StuckConfigurationLock)
{
    constexpr DWORD kHoldMs = 5000;
    ASSERT_NO_FATAL_FAILURE(StartSystem(0, false));
    const struct {
        bool bLocked;
        int nPresses;  // a second after each other
        int nFinal;
    } rows[] = {{false, 2, 2}, {true, 1, 1}};
    int nPresses = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.bLocked ? "locked" : "unlocked");
        ASSERT_NO_FATAL_FAILURE(SetLocked(row.bLocked));
        m_settings.Set(glim::kKeyKBStatus, 0);
        Pause(kPressGapMs);
        CSettingsApp holder;
        ASSERT_EQ(0u, holder.StartHoldLock(kHoldMs));
        const ULONGLONG ullStart = GetTickCount64();
        for (int i = 0; i < row.nPresses; ++i, ++nPresses) {
            Pause(i == 0 ? 0 : 1000);
            Press();
        }
        const DWORD dwBoundMs = kHoldMs + CAutoLock::kWaitMs + 3000;
        const bool bFirst = WaitUntil([&] { return Status() != 0; }, dwBoundMs + 5000);
        const ULONGLONG ullFirstMs = GetTickCount64() - ullStart;
        const bool bFinal = WaitForStatus(row.nFinal, dwBoundMs + 5000);
        const ULONGLONG ullFinalMs = GetTickCount64() - ullStart;
        const std::string what = row.bLocked ? "locked" : "unlocked";
        Figure((what + "_first_change_ms").c_str(), static_cast<long long>(ullFirstMs));
        Figure((what + "_last_change_ms").c_str(), static_cast<long long>(ullFinalMs));
        EXPECT_TRUE(bFirst && bFinal) << "KBStatus " << Status();
        EXPECT_GE(ullFirstMs, 2000u) << "the lock was not really held";
        EXPECT_LE(ullFinalMs, dwBoundMs);
        EXPECT_TRUE(holder.Process().WaitExit(kWaitMs));
    }
    EXPECT_EQ(nPresses, Accepted());
}

// Stop and start the service three times with the agent running: each within the start's
// wait hint (5 s; the stop reports none), each start restores the recorded level, and the
// hotkey works afterwards.
TEST_F(Reliability, ServiceStopStartCycles)
{
    constexpr ULONGLONG kWaitHintMs = 5000;
    ASSERT_NO_FATAL_FAILURE(StartSystem(0, false));
    for (int nLevel : {4, 7, 2}) {
        SCOPED_TRACE(testing::Message() << "recorded level " << nLevel);
        m_settings.Set(glim::kKeyCurrentKBBrightness, nLevel);
        ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), glimtest::ClearHistory());
        ULONGLONG ullStopMs = 0, ullStartMs = 0;
        ASSERT_NO_FATAL_FAILURE(RestartService(&ullStopMs, &ullStartMs));
        Figure("stop_ms", static_cast<long long>(ullStopMs));
        Figure("start_ms", static_cast<long long>(ullStartMs));
        EXPECT_LT(ullStopMs, kWaitHintMs);
        EXPECT_LT(ullStartMs, kWaitHintMs);
        EXPECT_TRUE(LevelsAre({nLevel}));
        EXPECT_EQ(1u, glimtest::ProcessesOf(glimtest::InstalledServicePath()).size());
    }
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), glimtest::ClearHistory());
    PressAndTime(1);
    EXPECT_TRUE(LevelsAre({kBrightness}));
    EXPECT_TRUE(m_main.Process().IsRunning());
}

// Stops landing among presses (a storm every 100 ms, and a press just before each stop at a
// spread of delays, so that some stops fall inside an agent start): each stop ends within a
// few seconds and leaves no agent process but the main instance, running or suspended.
TEST_F(Reliability, StopsDuringAPressStormLeaveNoRelay)
{
    constexpr int kStops = 30;
    constexpr ULONGLONG kBudgetMs = 80000;
    constexpr DWORD kRelayEndMs = 4000;
    ASSERT_NO_FATAL_FAILURE(StartSystem(0, false));
    std::atomic<bool> bStorm{true};
    std::thread storm([&bStorm] {
        while (bStorm) {
            glimtest::Press();  // fails while the service is stopped
            Sleep(100);
        }
    });
    const ULONGLONG ullStart = GetTickCount64();
    int nStops = 0, nLeft = 0;
    ULONGLONG ullLongestStopMs = 0;
    for (; nStops < kStops && GetTickCount64() - ullStart < kBudgetMs; ++nStops) {
        if (!WaitUntil([] { return glimtest::EventExists(glim::kEventHotkey); }, kWaitMs))
            break;
        glimtest::Press();
        Sleep(static_cast<DWORD>((nStops * 7) % 64));
        const ULONGLONG ullStop = GetTickCount64();
        if (glimtest::ScmStop(glim::kServiceName, kWaitMs) != ERROR_SUCCESS ||
            !WaitUntil([] { return !glimtest::EventExists(glim::kEventHotkey); }, kWaitMs))
            break;
        ullLongestStopMs = std::max(ullLongestStopMs, GetTickCount64() - ullStop);
        if (!WaitUntil([this] { return RelaysRunning() == 0; }, kRelayEndMs)) {
            ++nLeft;
            for (DWORD dwPid : glimtest::ProcessesOf(glim::kAgentProgramPath)) {
                if (dwPid == MainPid())
                    continue;
                glim::CScopedHandle hRelay(OpenProcess(PROCESS_TERMINATE, FALSE, dwPid));
                if (hRelay)
                    TerminateProcess(hRelay.Get(), 1);
            }
        }
        if (glimtest::ScmStart(glim::kServiceName, kWaitMs) != ERROR_SUCCESS)
            break;
    }
    bStorm = false;
    storm.join();
    Figure("stops", nStops);
    Figure("relays_left", nLeft);
    Figure("longest_stop_ms", static_cast<long long>(ullLongestStopMs));
    EXPECT_GE(nStops, 15) << "the service stopped cycling";
    EXPECT_EQ(0, nLeft) << "stops left agent processes behind";
    EXPECT_LT(ullLongestStopMs, 5000u);
    EXPECT_GE(m_log.CountMessage(L"Step6: CreateProcessAsUser successfully."), nStops / 2) << "too few agent starts";
}

// The main instance killed: the relays of the next presses find no window and end at once,
// the service runs on, and a new main instance takes the next press.
TEST_F(Reliability, MainInstanceKilled)
{
    ASSERT_NO_FATAL_FAILURE(StartSystem(0, false));
    m_main.Process().Terminate();
    for (bool bLocked : {false, true}) {
        SCOPED_TRACE(bLocked ? "locked" : "unlocked");
        ASSERT_NO_FATAL_FAILURE(SetLocked(bLocked));
        Pause(kPressGapMs);
        const int nStarted = m_log.CountMessage(L"Step6: CreateProcessAsUser successfully.");
        const ULONGLONG ullStart = GetTickCount64();
        Press();
        ASSERT_TRUE(WaitUntil(
            [&] { return m_log.CountMessage(L"Step6: CreateProcessAsUser successfully.") > nStarted; }, kWaitMs))
            << "the service started no relay";
        ASSERT_TRUE(WaitUntil([&] { return glimtest::ProcessesOf(glim::kAgentProgramPath).empty(); }, kWaitMs))
            << "a relay is still running";
        Figure(bLocked ? "locked_relay_gone_ms" : "unlocked_relay_gone_ms",
               static_cast<long long>(GetTickCount64() - ullStart));
        EXPECT_TRUE(WaitForStatus(bLocked ? 1 : 0));  // only the service's locked toggle changes it
        EXPECT_TRUE(ServiceRuns());
    }
    EXPECT_EQ(0u, m_app.ReadRecord().size());

    ASSERT_NO_FATAL_FAILURE(SetLocked(false));
    ASSERT_NO_FATAL_FAILURE(RestartMain());
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), glimtest::ClearHistory());
    Pause(kPressGapMs);
    PressAndTime(2);
    EXPECT_TRUE(m_app.WaitForRecords(1, kWaitMs));
}

// The agent's log pointed where it cannot be written, or its folder taken away while
// logging: the agent runs on and presses work.
TEST_F(Reliability, FailingLogDestinations)
{
    ASSERT_NO_FATAL_FAILURE(StartSystem(0, false));
    // A folder without rights to create anything: a DACL that grants reading only, or under
    // Wine, which does not enforce DACLs, the Linux /proc (no one may create files there).
    const std::wstring readOnly = m_scratch.File(L"readonly");
    ASSERT_TRUE(CreateDirectoryW(readOnly.c_str(), nullptr));
    PSECURITY_DESCRIPTOR pReadOnly = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;OICI;GRGX;;;WD)", SDDL_REVISION_1,
                                                                     &pReadOnly, nullptr));
    ASSERT_TRUE(SetFileSecurityW(readOnly.c_str(), DACL_SECURITY_INFORMATION, pReadOnly));
    LocalFree(pReadOnly);
    const std::wstring noRights = glimtest::LinuxProcReadable() ? L"Z:\\proc" : readOnly;
    const std::wstring isFolder = m_scratch.File(L"folder.log");
    ASSERT_TRUE(CreateDirectoryW(isFolder.c_str(), nullptr));
    const std::wstring moved = m_scratch.File(L"moved");
    const struct {
        const char* pszWhat;
        std::wstring path;
        bool bTakeAway;
    } rows[] = {
        {"a folder without rights", noRights + L"\\glimkit\\Glimagent.log", false},
        {"a file name that is a folder", isFolder, false},
        {"the folder taken away while logging", moved + L"\\Glimagent.log", true},
    };
    int nStatus = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.pszWhat);
        ASSERT_TRUE(m_agentLogConfig.Write(row.path, 0, 0));
        ASSERT_NO_FATAL_FAILURE(RestartMain());
        const DWORD dwAttributes = GetFileAttributesW(row.path.c_str());
        const bool bLogOpen = dwAttributes != INVALID_FILE_ATTRIBUTES && !(dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
        EXPECT_EQ(row.bTakeAway, bLogOpen) << "the destination did not fail";
        if (row.bTakeAway) {
            // Windows keeps a folder with an open file in it; what Wine allows is printed,
            // and either way the agent must run on.
            const BOOL bDeleted = DeleteFileW(row.path.c_str());
            const BOOL bMoved = MoveFileW(moved.c_str(), (moved + L"-gone").c_str());
            std::printf("[ note     ] open log file deleted: %d, its folder moved away: %d\n", bDeleted, bMoved);
        }
        for (int i = 0; i < 2; ++i) {
            Pause(kPressGapMs);
            nStatus = StepOf(nStatus);
            PressAndTime(nStatus);
        }
        EXPECT_TRUE(m_main.Process().IsRunning());
    }
}

// Another process holds the agent log's mutex for 30 s while a main instance starts and
// presses arrive: it comes up, each press is handled about as fast as without the holder
// (a line waits one bounded wait, then lines are dropped), and the first line after the
// release says how many were lost.
TEST_F(Reliability, HeldLogMutexCostsLinesNotPresses)
{
    ASSERT_NO_FATAL_FAILURE(StartSystem(0, false));
    ULONGLONG ullUsualMs = 0;
    int nStatus = 0;
    for (int i = 0; i < 3; ++i) {
        nStatus = StepOf(nStatus);
        ullUsualMs = std::max(ullUsualMs, PressAndTime(nStatus));
        Pause(kPressGapMs);
    }
    Figure("usual_press_ms", static_cast<long long>(ullUsualMs));

    wchar_t szName[logfilesync::kPathChars] = {};
    ASSERT_TRUE(logfilesync::BuildMutexName(m_agentLogPath.c_str(), szName));
    CHeldMutex held(szName);
    ASSERT_TRUE(held.Held());
    const ULONGLONG ullRelease = GetTickCount64() + 30000;
    // A main instance that starts now opens its log after one bounded wait and comes up
    // (well within the 15 s RestartMain allows; the holder keeps the mutex for 30 s).
    const ULONGLONG ullRestart = GetTickCount64();
    ASSERT_NO_FATAL_FAILURE(RestartMain());
    Figure("main_start_ms_while_held", static_cast<long long>(GetTickCount64() - ullRestart));
    ULONGLONG ullWorstMs = 0;
    int nPresses = 0;
    while (GetTickCount64() + 4000 < ullRelease) {
        // Each press is judged from the status it starts from: a press that is late or lost
        // fails once and says what the service saw, instead of leaving every later press of
        // the hold waiting for a status one step off.
        const int nFrom = Status();
        const int nAcceptedBefore = Accepted();
        const ULONGLONG ullStart = GetTickCount64();
        Press();
        const bool bStepped = WaitForStatus(StepOf(nFrom), 10000);
        const ULONGLONG ullMs = GetTickCount64() - ullStart;
        ++nPresses;
        if (!bStepped) {
            ADD_FAILURE() << "press " << nPresses << " from status " << nFrom << ": KBStatus " << Status() << " after "
                          << ullMs << " ms; the service accepted " << Accepted() - nAcceptedBefore
                          << " press(es), relays still running " << RelaysRunning();
            break;
        }
        ullWorstMs = std::max(ullWorstMs, ullMs);
        // One bounded wait of the log at most; a press stuck behind the holder takes 30 s.
        EXPECT_LE(ullMs, ullUsualMs + logfilesync::kLockWaitMs + 1000) << "press " << nPresses;
        Pause(1500);
    }
    Figure("presses_while_held", nPresses);
    Figure("worst_press_ms_while_held", static_cast<long long>(ullWorstMs));
    WaitUntil([&] { return GetTickCount64() >= ullRelease; }, 31000);
    held.Release();

    Pause(kPressGapMs);
    PressAndTime(StepOf(Status()));
    bool bNote = false;
    EXPECT_TRUE(WaitUntil(
        [&] {
            for (const std::wstring& text : glimtest::ReadLines(m_agentLogPath)) {
                glimtest::ParsedLine line;
                if (glimtest::ParseLine(text, &line) && line.level == L'W' &&
                    line.message.find(L" log lines dropped: the log mutex stayed taken") != std::wstring::npos) {
                    Figure("lines_dropped", _wtoi(line.message.c_str()));
                    bNote = _wtoi(line.message.c_str()) > 0;
                    return true;
                }
            }
            return false;
        },
        kWaitMs))
        << "no line tells of the dropped lines";
    EXPECT_TRUE(bNote);
}

// A locked press is recorded as the level to restore: to Off, a restart puts back 0; to
// On, it puts back KBBrightness (not the older CurrentKBBrightness of 3).
TEST_F(Reliability, LockedToggleIsRestoredAfterRestart)
{
    ASSERT_NO_FATAL_FAILURE(StartSystem(1, true, false));
    const struct {
        int nStatus;
        long lRestored;
    } rows[] = {{1, 0}, {0, kBrightness}};
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "locked press from status " << row.nStatus);
        m_settings.Set(glim::kKeyKBStatus, row.nStatus);
        m_settings.Set(glim::kKeyCurrentKBBrightness, 3);
        Pause(kPressGapMs);
        PressAndTime(row.nStatus == 0 ? 1 : 0);
        EXPECT_TRUE(WaitUntil([&] { return m_settings.Get(glim::kKeyCurrentKBBrightness) == row.lRestored; }, kWaitMs))
            << "CurrentKBBrightness " << m_settings.Get(glim::kKeyCurrentKBBrightness);
        ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), glimtest::ClearHistory());
        ASSERT_NO_FATAL_FAILURE(RestartService());
        EXPECT_TRUE(LevelsAre({row.lRestored}));
    }
}
