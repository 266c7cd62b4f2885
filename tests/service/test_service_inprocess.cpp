// The service's hooks called in-process, the way the control manager's thread calls them:
// the control handler's dispatch, power events against the simulated driver (the control
// manager gives a test no way to send those), the verb dispatcher's refusals, and the
// launcher starting the agent probe.
#include <gtest/gtest.h>

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <cstring>
#include <memory>
#include <thread>

#include "BackLightService.h"
#include "DeviceProtocol.h"
#include "GlimNames.h"
#include "HostLink.h"
#include "KBBackLight.h"
#include "ReadLoop.h"
#include "ScopedHandle.h"
#include "Service.h"
#include "ServiceHarness.h"
#include "SettingsFile.h"
#include "SettingsFileTools.h"
#include "SimDriver.h"
#include "SimDriverChecks.h"
#include "LogTestUtil.h"
#include "TestLog.h"
#include "UsermodeProcess.h"

using glimtest::DriverLevel;
using glimtest::RequestTotal;

namespace {

constexpr DWORD kPbtSuspend = 4;           // PBT_APMSUSPEND
constexpr DWORD kPbtResumeSuspend = 7;     // PBT_APMRESUMESUSPEND
constexpr DWORD kPbtResumeAutomatic = 18;  // PBT_APMRESUMEAUTOMATIC
constexpr DWORD kPbtPowerSettingChange = 0x8013;

// A kernel object's DACL as SDDL text ("D:P(...)"); empty when it cannot be read.
std::wstring DaclText(HANDLE hObject)
{
    glim::CScopedLocalMemory pSd;
    PACL pDacl = nullptr;
    wchar_t* pszSddl = nullptr;
    if (GetSecurityInfo(hObject, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &pDacl, nullptr,
                        pSd.Put()) != ERROR_SUCCESS ||
        !ConvertSecurityDescriptorToStringSecurityDescriptorW(
            pSd.Get(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, &pszSddl,
            nullptr))
        return std::wstring();
    const glim::CScopedLocalMemory sddl(pszSddl);
    return pszSddl;
}

bool HasFunctionLines(const wchar_t* pszFunction)
{
    for (const glimtest::Line& line : glimtest::Lines()) {
        if (line.function == pszFunction)
            return true;
    }
    return false;
}

class ServicePowerEvents : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), m_driver.Install())
            << "ServicePowerEvents: the simulated driver could not be installed and started";
        ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), glimtest::Reset());
        m_service.Initialize();
        glimtest::Clear();
    }

    // Sets the level straight on the device and forgets that request.
    static void SetDeviceLevel(INT32 nLevel)
    {
        ASSERT_GT(glim::KBDeviceRequest(IOCTL_KBBL_SET_BRIGHTNESS, nLevel, nullptr), 0u);
        ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), glimtest::ClearHistory());
    }

    DWORD PowerEvent(DWORD dwEventType)
    {
        return CService::ServiceHandler(SERVICE_CONTROL_POWEREVENT, dwEventType, nullptr, &m_service);
    }

    glimtest::CSimDriverInstall m_driver;
    glimtest::CSettings m_settings;
    CBackLightService m_service;
};

}  // namespace

TEST_F(ServicePowerEvents, ResumeRestoresTheRecordedLevel)
{
    m_settings.Set(glim::kKeyCurrentKBBrightness, 7);
    SetDeviceLevel(2);
    EXPECT_EQ(0u, PowerEvent(kPbtResumeSuspend));
    EXPECT_EQ(7, DriverLevel());
    EXPECT_EQ(1u, RequestTotal());
    EXPECT_TRUE(glimtest::Contains(L"tovin PBT_APMRESUMESUSPEND", L"CService::OnPowerEvent"));
    EXPECT_TRUE(glimtest::Contains(L"iBrightness is 7"));
}

TEST_F(ServicePowerEvents, ResumeWithoutRecordedLevelSetsZero)
{
    m_settings.Remove(glim::kKeyCurrentKBBrightness);
    SetDeviceLevel(5);
    EXPECT_EQ(0u, PowerEvent(kPbtResumeSuspend));
    EXPECT_EQ(0, DriverLevel());
    EXPECT_TRUE(glimtest::Contains(L"iBrightness is 0"));
}

TEST_F(ServicePowerEvents, ResumeWithFailingDeviceStillReturnsZero)
{
    m_settings.Set(glim::kKeyCurrentKBBrightness, 7);
    SetDeviceLevel(3);
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), glimtest::FailNext(1, simkb::SimFailError));
    EXPECT_EQ(0u, PowerEvent(kPbtResumeSuspend));
    EXPECT_EQ(3, DriverLevel());
}

TEST_F(ServicePowerEvents, SuspendOnlyLogs)
{
    m_settings.Set(glim::kKeyCurrentKBBrightness, 7);
    SetDeviceLevel(4);
    EXPECT_EQ(0u, PowerEvent(kPbtSuspend));
    EXPECT_TRUE(glimtest::Contains(L"tovin PBT_APMSUSPEND", L"CService::OnPowerEvent"));
    EXPECT_EQ(4, DriverLevel());
    EXPECT_EQ(0u, RequestTotal());
}

TEST_F(ServicePowerEvents, OtherEventsDoNothing)
{
    m_settings.Set(glim::kKeyCurrentKBBrightness, 7);
    SetDeviceLevel(4);
    for (DWORD dwEvent : {kPbtResumeAutomatic, kPbtPowerSettingChange, DWORD{0}, DWORD{6}, DWORD{8}, DWORD{10}}) {
        EXPECT_EQ(0u, PowerEvent(dwEvent)) << dwEvent;
    }
    EXPECT_EQ(4, DriverLevel());
    EXPECT_EQ(0u, RequestTotal());
    EXPECT_FALSE(HasFunctionLines(L"CService::OnPowerEvent"));
    // The handler's own lines still appear.
    EXPECT_TRUE(glimtest::Contains(L"dwControl: 13, dwErr=0", L"CService::ServiceHandler"));
}

namespace {

// GUID_MONITOR_POWER_ON's change as the control manager hands it to the handler.
struct SMonitorPowerSetting {
    POWERBROADCAST_SETTING header;  // its Data holds the first byte
    BYTE rest[sizeof(DWORD) - 1];
};

SMonitorPowerSetting MonitorPower(DWORD dwValue)
{
    SMonitorPowerSetting setting = {};
    setting.header.PowerSetting = GUID_MONITOR_POWER_ON;
    setting.header.DataLength = sizeof(DWORD);
    std::memcpy(setting.header.Data, &dwValue, sizeof(DWORD));
    return setting;
}

using ServiceDisplayEvents = ServicePowerEvents;

}  // namespace

// Leaving Modern Standby is the display coming back on: with AoAc the recorded level goes back
// on the device as after a resume, with one line naming the display event. The report sent
// right after the registration (on), a wake with nobody there, a dimmed display, and every
// display event without AoAc leave the light alone.
TEST_F(ServiceDisplayEvents, DisplayBackOnRestoresOnlyWithModernStandby)
{
    struct SCase {
        BOOL bModernStandby;
        DWORD dwOnValue;
        INT32 nExpected;
    } const kCases[] = {{TRUE, 1, 6}, {FALSE, 1, 0}, {TRUE, 2, 0}};
    for (const SCase& row : kCases) {
        CBackLightService service;
        service.Initialize();
        service.m_bModernStandby = row.bModernStandby;
        m_settings.Set(glim::kKeyCurrentKBBrightness, 6);
        SetDeviceLevel(6);
        glimtest::Clear();
        SMonitorPowerSetting on = MonitorPower(1);
        SMonitorPowerSetting off = MonitorPower(0);
        SMonitorPowerSetting back = MonitorPower(row.dwOnValue);
        EXPECT_EQ(0u, CService::ServiceHandler(SERVICE_CONTROL_POWEREVENT, kPbtPowerSettingChange, &on, &service));
        EXPECT_EQ(0u, CService::ServiceHandler(SERVICE_CONTROL_POWEREVENT, kPbtPowerSettingChange, &off, &service));
        SetDeviceLevel(0);  // the controller switched the light off during standby
        EXPECT_EQ(0u, CService::ServiceHandler(SERVICE_CONTROL_POWEREVENT, kPbtResumeAutomatic, nullptr, &service));
        EXPECT_EQ(0u, CService::ServiceHandler(SERVICE_CONTROL_POWEREVENT, kPbtPowerSettingChange, &back, &service));
        const bool bRestores = row.nExpected != 0;
        EXPECT_EQ(row.nExpected, DriverLevel()) << row.bModernStandby << " " << row.dwOnValue;
        EXPECT_EQ(bRestores ? 1u : 0u, RequestTotal()) << row.bModernStandby << " " << row.dwOnValue;
        EXPECT_EQ(bRestores,
                  glimtest::Contains(L"tovin GUID_MONITOR_POWER_ON display on after off", L"CService::OnPowerEvent"));
        EXPECT_EQ(bRestores, glimtest::Contains(L"iBrightness is 6", L"CKBBackLight::RecoveryCurrentBrightness"));
        EXPECT_EQ(bRestores, HasFunctionLines(L"CService::OnPowerEvent"));
    }
}

namespace {

// The agent's own set, as it does it: the device first, then the record.
void AgentSets(INT32 nLevel)
{
    ASSERT_GT(glim::KBDeviceRequest(IOCTL_KBBL_SET_BRIGHTNESS, nLevel, nullptr), 0u);
    CSettingsFile::GetInstance()->WriteInt(glim::kKeyCurrentKBBrightness, nLevel);
}

// The real settings read and device set of a restore, with the agent's set slipped in
// before one of the restore's steps (or after the last).
struct SCrossing {
    int nStep = 0;
    int nAgentBefore = 0;
    INT32 nAgentLevel = 0;
    bool bAgentDone = false;

    void Step()
    {
        if (!bAgentDone && nStep == nAgentBefore) {
            AgentSets(nAgentLevel);
            bAgentDone = true;
        }
        ++nStep;
    }
    static INT32 Read(void* pv)
    {
        static_cast<SCrossing*>(pv)->Step();
        return static_cast<INT32>(CSettingsFile::GetInstance()->ReadInt(glim::kKeyCurrentKBBrightness, 0));
    }
    static bool Set(void* pv, INT32 nLevel)
    {
        static_cast<SCrossing*>(pv)->Step();
        return CKBBackLight::GetInstance()->SetKBBackLightBrightness(nLevel);
    }
};

}  // namespace

// The agent switching the light back on (the idle rule at the first input, a press) while a
// restore reads and sets the older level: in every order the agent's level stays.
TEST_F(ServicePowerEvents, RestoreNeverUndoesTheAgentsSet)
{
    constexpr INT32 kOld = 0;  // recorded before the wake: the idle rule had switched it off
    constexpr INT32 kAgent = 9;
    CKBBackLight::GetInstance();  // the service's settings path is set with it
    // Steps of a restore: read, set, read again; 3 is after them all.
    for (int nAgentBefore = 0; nAgentBefore <= 3; ++nAgentBefore) {
        m_settings.Set(glim::kKeyCurrentKBBrightness, kOld);
        SetDeviceLevel(4);
        SCrossing crossing;
        crossing.nAgentBefore = nAgentBefore;
        crossing.nAgentLevel = kAgent;
        const glim::SLevelPort port = {&SCrossing::Read, &SCrossing::Set, &crossing};
        const INT32 nLast = glim::RestoreRecordedLevel(port);
        if (!crossing.bAgentDone)
            AgentSets(kAgent);
        EXPECT_EQ(kAgent, DriverLevel()) << "agent before step " << nAgentBefore;
        EXPECT_EQ(kAgent, m_settings.Get(glim::kKeyCurrentKBBrightness)) << "agent before step " << nAgentBefore;
        if (nAgentBefore < 3) {
            EXPECT_EQ(kAgent, nLast) << "agent before step " << nAgentBefore;
        }
    }
}

// An agent that keeps changing the level is followed a bounded number of times.
TEST(ServiceRestore, FollowsAChangingRecordABoundedNumberOfTimes)
{
    struct SCounting {
        int nReads = 0;
        int nSets = 0;
    } counting;
    const glim::SLevelPort port = {
        [](void* pv) { return static_cast<INT32>(++static_cast<SCounting*>(pv)->nReads); },
        [](void* pv, INT32) { return ++static_cast<SCounting*>(pv)->nSets > 0; },
        &counting,
    };
    EXPECT_EQ(glim::kRestoreFollowLimit + 1, glim::RestoreRecordedLevel(port));
    EXPECT_EQ(glim::kRestoreFollowLimit + 1, counting.nReads);
    EXPECT_EQ(glim::kRestoreFollowLimit + 1, counting.nSets);
}

namespace {

// A service whose control pre-filter claims every control.
class CClaimingService : public CService {
public:
    DWORD BeforeServiceControl(DWORD, DWORD, LPVOID, LPVOID) override { return ERROR_CONTINUE; }
};

}  // namespace

TEST(ServiceHandler, DispatchesStopAndShutdownToTheStopHooks)
{
    CService service;
    service.Initialize();
    glimtest::Clear();
    EXPECT_EQ(0u, CService::ServiceHandler(SERVICE_CONTROL_STOP, 0, nullptr, &service));
    EXPECT_TRUE(glimtest::Contains(L"TerminateMainLoop", L"CService::TerminateMainLoop"));
    EXPECT_TRUE(glimtest::Contains(L"dwControl: 1, dwErr=0", L"CService::ServiceHandler"));
    EXPECT_EQ(0u, CService::ServiceHandler(SERVICE_CONTROL_SHUTDOWN, 0, nullptr, &service));
    EXPECT_TRUE(glimtest::Contains(L"tovin OnShutdown", L"CService::OnShutdown"));
    EXPECT_EQ(0u, CService::ServiceHandler(SERVICE_CONTROL_PRESHUTDOWN, 0, nullptr, &service));
    EXPECT_TRUE(glimtest::Contains(L"OnPreShutdown", L"CService::OnPreShutdown"));
    // Outside a running service the re-report has no status handle.
    EXPECT_TRUE(glimtest::Contains(L"Not init.", L"CService::SetServiceStatus"));
    EXPECT_EQ(0u, CService::ServiceHandler(200, 0, nullptr, &service));
    EXPECT_TRUE(glimtest::Contains(L"dwControl: 200, dwErr=0"));
}

TEST(ServiceHandler, NoContextIsNotImplemented)
{
    glimtest::Clear();
    EXPECT_EQ(static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED),
              CService::ServiceHandler(SERVICE_CONTROL_STOP, 0, nullptr, nullptr));
    EXPECT_TRUE(glimtest::Contains(L"Service not implemented.", L"CService::ServiceHandler"));
    EXPECT_FALSE(glimtest::Contains(L"TerminateMainLoop"));
}

TEST(ServiceHandler, ClaimedControlSkipsTheHook)
{
    CClaimingService service;
    service.Initialize();
    glimtest::Clear();
    EXPECT_EQ(0u, CService::ServiceHandler(SERVICE_CONTROL_STOP, 0, nullptr, &service));
    EXPECT_TRUE(glimtest::Contains(L"dwControl: 1, continue.", L"CService::ServiceHandler"));
    EXPECT_FALSE(glimtest::Contains(L"TerminateMainLoop"));
}

// What EnterMainLoop makes of its read thread: listening, ended with an error, ended
// without one, or neither in time. Every failure is one 'E' line.
TEST(ReadLoopStart, ResultOfTheThreadsStart)
{
    struct SThread {
        bool bSignal;  // signals the start event before it lingers
        DWORD dwLingerMs;
        DWORD dwExit;
        HANDLE hStarted;
    };
    struct SCase {
        SThread thread;
        DWORD dwLimitMs;
        DWORD dwExpected;
    } const kCases[] = {
        {{true, 1000, 0, nullptr}, 5000, ERROR_SUCCESS},
        {{false, 0, ERROR_INVALID_HANDLE, nullptr}, 5000, ERROR_INVALID_HANDLE},
        {{false, 0, ERROR_SUCCESS, nullptr}, 5000, ERROR_SERVICE_NO_THREAD},
        {{false, 3000, ERROR_SUCCESS, nullptr}, 100, ERROR_TIMEOUT},
    };
    for (const SCase& row : kCases) {
        glim::CScopedHandle hStarted(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        ASSERT_TRUE(hStarted);
        SThread thread = row.thread;
        thread.hStarted = hStarted.Get();
        auto run = [](LPVOID pv) -> DWORD {
            const SThread* pThread = static_cast<const SThread*>(pv);
            if (pThread->bSignal)
                SetEvent(pThread->hStarted);
            Sleep(pThread->dwLingerMs);
            return pThread->dwExit;
        };
        glimtest::Clear();
        glim::CScopedHandle hThread(CreateThread(nullptr, 0, run, &thread, 0, nullptr));
        ASSERT_TRUE(hThread);
        EXPECT_EQ(row.dwExpected, glim::WaitForReadThreadStart(hStarted.Get(), hThread.Get(), row.dwLimitMs));
        size_t nErrors = 0;
        for (const glimtest::Line& line : glimtest::Lines())
            nErrors += line.chLevel == 'E' ? 1 : 0;
        EXPECT_EQ(row.dwExpected == ERROR_SUCCESS ? 0u : 1u, nErrors) << row.dwExpected;
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hThread.Get(), 10000));  // thread is done with `thread`
    }
}

TEST(ServiceVerbs, RefusalsAndIgnoredWords)
{
    CService service;
    wchar_t szProgram[] = L"x";
    wchar_t szVerb[] = L"-IX";
    LPWSTR argv[] = {szProgram, szVerb};
    glimtest::Clear();
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_READY), service.ExecArguments(2, argv));
    EXPECT_TRUE(glimtest::Contains(L"Not init."));
    service.Initialize();
    glimtest::Clear();
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), service.ExecArguments(0, nullptr));
    EXPECT_TRUE(glimtest::Contains(L"Input parameters is NULL."));
    glimtest::Clear();
    EXPECT_EQ(0u, service.ExecArguments(2, argv));
    EXPECT_TRUE(glimtest::Lines().empty());
}

TEST(ServiceFields, InitializeFillsTheServiceDescription)
{
    CService service;
    EXPECT_FALSE(service.m_bInitialized);
    service.Initialize();
    EXPECT_TRUE(service.m_bInitialized);
    EXPECT_TRUE(service.m_bAutoStart);
    EXPECT_STREQ(L"Glimward", service.m_szDisplayName);
    EXPECT_STREQ(L"Glimward", glim::ServiceName());
    EXPECT_STREQ(L"", service.m_szDescription);
    EXPECT_EQ(L'\0', service.m_szDependencies[0]);
    EXPECT_EQ(L'\0', service.m_szDependencies[1]);
}

namespace {

class Launcher : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(glimtest::EnsureExplorer()) << "Launcher: Wine's explorer.exe did not start";
        ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), m_probe.Install());
        glimtest::Clear();
    }

    glimtest::CAgentProbe m_probe;
};

}  // namespace

TEST_F(Launcher, StartsTheAgentWithTheCommandWordAlone)
{
    DWORD dwExplorer = 0;
    wchar_t szCommand[] = L"cmd_service-3-statuschange";
    glim::CScopedHandle hProcess;
    ASSERT_TRUE(CUsermodeProcess::GetInstance()->CreateUsermodeProcess2(&dwExplorer, szCommand, hProcess.Put()));
    ASSERT_TRUE(hProcess);
    EXPECT_NE(0u, dwExplorer);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hProcess.Get(), 15000));
    const std::vector<std::wstring> starts = m_probe.Starts();
    ASSERT_EQ(1u, starts.size());
    EXPECT_EQ(L"cmd_service-3-statuschange", starts[0]);
    const wchar_t* kLabel = L"CUsermodeProcess::CreateUsermodeProcess2";
    EXPECT_TRUE(glimtest::Contains(L"__CreateUsermodeProcess2 start", kLabel));
    EXPECT_TRUE(glimtest::Contains(L"GetPidByName(explorer.exe) = " + std::to_wstring(dwExplorer), kLabel));
    EXPECT_TRUE(glimtest::Contains(L"Step1: OpenProcess successfully.", kLabel));
    EXPECT_TRUE(glimtest::Contains(L"Step2: OpenProcessToken successfully.", kLabel));
    EXPECT_TRUE(glimtest::Contains(L"Step6: CreateProcessAsUser successfully.", kLabel));
}

TEST_F(Launcher, GivenExplorerIdIsUsedWithoutSearch)
{
    DWORD dwExplorer = glim::FindExplorerProcessId(WTSGetActiveConsoleSessionId());
    ASSERT_NE(0u, dwExplorer);
    const DWORD dwGiven = dwExplorer;
    wchar_t szCommand[] = L"cmd_service-2-osd";
    glim::CScopedHandle hProcess;
    ASSERT_TRUE(CUsermodeProcess::GetInstance()->CreateUsermodeProcess2(&dwExplorer, szCommand, hProcess.Put()));
    EXPECT_EQ(dwGiven, dwExplorer);
    EXPECT_FALSE(glimtest::Contains(L"GetPidByName(explorer.exe) = " + std::to_wstring(dwGiven)));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hProcess.Get(), 15000));
    ASSERT_EQ(1u, m_probe.Starts().size());
    EXPECT_EQ(L"cmd_service-2-osd", m_probe.Starts()[0]);
}

TEST_F(Launcher, ExplorerThatCannotBeOpenedFails)
{
    DWORD dwExplorer = 0xFFFFFFF0;  // no such process
    wchar_t szCommand[] = L"cmd_service-2-osd";
    EXPECT_FALSE(CUsermodeProcess::GetInstance()->CreateUsermodeProcess2(&dwExplorer, szCommand, nullptr));
    EXPECT_TRUE(glimtest::Contains(L"can not open dwExplorer HANDLE"));
    EXPECT_FALSE(glimtest::Contains(L"Step1: OpenProcess successfully."));
    EXPECT_TRUE(m_probe.Starts().empty());
}

// The agent holds what the console user's own token holds (under Wine every process runs
// with the one user's elevated token, so the user's shell is the measure): the same
// elevation as explorer's, and no privilege enabled for it.
TEST_F(Launcher, AgentRunsWithTheUsersOwnTokenAndNoDebugPrivilege)
{
    DWORD dwExplorer = 0;
    wchar_t szCommand[] = L"cmd_service-3-statuschange";
    glim::CScopedHandle hProcess;
    ASSERT_TRUE(CUsermodeProcess::GetInstance()->CreateUsermodeProcess2(&dwExplorer, szCommand, hProcess.Put()));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hProcess.Get(), 15000));
    const std::vector<std::wstring> tokens = m_probe.Tokens();
    ASSERT_EQ(1u, tokens.size());
    const std::wstring explorer = glimtest::DescribeExplorerToken();
    ASSERT_FALSE(explorer.empty());
    const auto elevation = [](const std::wstring& line) { return line.substr(0, line.find(L" privileges=")); };
    EXPECT_EQ(elevation(explorer), elevation(tokens[0])) << testing::PrintToString(tokens[0]);
    EXPECT_EQ(std::wstring::npos, tokens[0].find(L"SeDebugPrivilege")) << testing::PrintToString(tokens[0]);
}

// A program that cannot be started is logged with the error, and nothing is left behind.
TEST_F(Launcher, FailedProcessStartIsLoggedWithItsError)
{
    ASSERT_TRUE(DeleteFileW(glim::kAgentProgramPath));
    DWORD dwExplorer = 0;
    wchar_t szCommand[] = L"cmd_service-2-osd";
    glim::CScopedHandle hProcess;
    EXPECT_FALSE(CUsermodeProcess::GetInstance()->CreateUsermodeProcess2(&dwExplorer, szCommand, hProcess.Put()));
    EXPECT_FALSE(hProcess);
    bool bLogged = false;
    for (const glimtest::Line& line : glimtest::Lines())
        bLogged |= line.chLevel == 'E' && line.message.find(L"CreateProcessAsUserW failed, dwErr=") == 0;
    EXPECT_TRUE(bLogged);
    EXPECT_FALSE(glimtest::Contains(L"Step6: CreateProcessAsUser successfully."));
}

TEST(LauncherToken, ExplorerOfAnotherSessionIsNeverTaken)
{
    ASSERT_TRUE(glimtest::EnsureExplorer()) << "Wine's explorer.exe did not start";
    const DWORD dwConsole = WTSGetActiveConsoleSessionId();
    EXPECT_NE(0u, glim::FindExplorerProcessId(dwConsole));
    EXPECT_EQ(0u, glim::FindExplorerProcessId(dwConsole + 76));
}

// The token is a fresh primary copy of the session user's token (or, without one, of
// explorer's), never the linked token and never another session's or an unreadable one.
// This process's token plays the user's: under Wine it is the same elevated token explorer
// has, and its linked token is the limited one.
TEST(LauncherToken, ChosenTokenIsACopyOfTheConsoleUsersOwn)
{
    const auto tokenId = [](HANDLE hToken) {
        TOKEN_STATISTICS statistics = {};
        DWORD cb = 0;
        return GetTokenInformation(hToken, TokenStatistics, &statistics, sizeof(statistics), &cb)
            ? (static_cast<ULONGLONG>(statistics.TokenId.HighPart) << 32) | statistics.TokenId.LowPart
            : 0ull;
    };
    const auto elevationType = [](HANDLE hToken) {
        TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
        DWORD cb = 0;
        return GetTokenInformation(hToken, TokenElevationType, &type, sizeof(type), &cb) ? static_cast<int>(type) : -1;
    };
    glim::CScopedHandle hOwn;
    glim::CScopedHandle hWeak;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, hOwn.Put()));
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_DEFAULT, hWeak.Put()));
    DWORD dwOwnSession = 0;
    ASSERT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &dwOwnSession));

    struct {
        const char* pszWhat;
        HANDLE hSession;
        HANDLE hExplorer;
        DWORD dwConsole;
        bool bChosen;
    } cases[] = {
        {"the session user's token", hOwn.Get(), hWeak.Get(), dwOwnSession, true},
        {"explorer's token when the session has none", nullptr, hOwn.Get(), dwOwnSession, true},
        {"explorer's token when the session's is unreadable", hWeak.Get(), hOwn.Get(), dwOwnSession, true},
        {"tokens of another session", hOwn.Get(), hOwn.Get(), dwOwnSession + 76, false},
        {"no readable token", hWeak.Get(), hWeak.Get(), dwOwnSession, false},
        {"no token at all", nullptr, nullptr, dwOwnSession, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        SetLastError(0xdeadbeef);
        const glim::CScopedHandle hChosen(glim::ChooseAgentToken(c.hSession, c.hExplorer, c.dwConsole));
        const DWORD dwErr = GetLastError();
        EXPECT_EQ(c.bChosen, static_cast<bool>(hChosen));
        if (!hChosen) {
            if (!c.bChosen) {
                EXPECT_EQ(static_cast<DWORD>(ERROR_NO_TOKEN), dwErr);
            }
            continue;
        }
        TOKEN_TYPE type = TokenImpersonation;
        DWORD cb = 0;
        ASSERT_TRUE(GetTokenInformation(hChosen.Get(), TokenType, &type, sizeof(type), &cb));
        EXPECT_EQ(TokenPrimary, type);
        EXPECT_NE(tokenId(hOwn.Get()), tokenId(hChosen.Get())) << "the source itself, not a copy";
        EXPECT_EQ(elevationType(hOwn.Get()), elevationType(hChosen.Get())) << "not the user's own token";
    }
}

// Under Wine the integrity level is a stub: it is read for any handle (even one that is no
// token), and setting it succeeds and changes nothing. So the raised level, and a failed raise
// after which the launcher sets no UI access and starts nothing (PrepareUIAccess), are seen on
// Windows only (where raising a level above the caller's own needs the Tcb privilege that
// LocalSystem holds).
TEST(LauncherToken, UIAccessIntegrityLevelIsTheUsersPlusSixteen)
{
    auto level = [](HANDLE hToken) {
        BYTE buffer[sizeof(TOKEN_MANDATORY_LABEL) + SECURITY_MAX_SID_SIZE] = {};
        DWORD cb = 0;
        if (!GetTokenInformation(hToken, TokenIntegrityLevel, buffer, sizeof(buffer), &cb))
            return DWORD{0};
        const PSID pSid = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(buffer)->Label.Sid;
        return *GetSidSubAuthority(pSid, *GetSidSubAuthorityCount(pSid) - 1);
    };

    glim::CScopedHandle hOwn;
    glim::CScopedHandle hToken;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, hOwn.Put()));
    ASSERT_TRUE(
        DuplicateTokenEx(hOwn.Get(), MAXIMUM_ALLOWED, nullptr, SecurityIdentification, TokenPrimary, hToken.Put()));
    const DWORD dwBefore = level(hToken.Get());
    ASSERT_NE(0u, dwBefore);
    const DWORD dwErr = glim::RaiseTokenIntegrityLevel(hToken.Get(), glim::kUIAccessIntegrityStep);
    if (dwErr == ERROR_PRIVILEGE_NOT_HELD)
        GTEST_SKIP() << "raising a level above the caller's own needs the Tcb privilege of LocalSystem";
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), dwErr);
    if (level(hToken.Get()) == dwBefore && glimtest::UnderWine())
        GTEST_SKIP() << "Wine accepts TokenIntegrityLevel and keeps the level it had (0x" << std::hex << dwBefore
                     << ")";
    EXPECT_EQ(dwBefore + 0x10, level(hToken.Get()));
}

// The press event lets SYSTEM and Administrators signal it and nobody else. An event that
// existed already has its owner logged and is served only when its security is of that kind
// (the service's own, kept alive by another reference); one a peer made first could take
// presses, so it is refused with an error line and the start's distinct error.
TEST(HotkeyEvent, CreatedWithItsOwnSecurityAndAPeersEventIsRefused)
{
    glim::CScopedHandle hEvent(glim::CreateHotkeyEvent(L"ReadThread"));
    ASSERT_TRUE(hEvent);
    ASSERT_NE(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError()) << "the service's event is running here";
    const std::wstring dacl = DaclText(hEvent.Get());
    EXPECT_EQ(0, _wcsicmp(glim::kHotkeyEventSddl, dacl.c_str())) << testing::PrintToString(dacl);

    // Its own kind, still open: served.
    glimtest::Clear();
    glim::CScopedHandle hAgain(glim::CreateHotkeyEvent(L"ReadThread"));
    EXPECT_TRUE(hAgain);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
    for (const glimtest::Line& line : glimtest::Lines())
        EXPECT_NE('E', line.chLevel) << "the service's own event refused: " << testing::PrintToString(line.message);
    hAgain.Reset();
    hEvent.Reset();

    // A peer's: no security of its own, everyone allowed, or users allowed beside the two.
    const wchar_t* const kPeers[] = {nullptr, L"D:(A;;0x1f0003;;;WD)",
                                     L"D:P(A;;0x1f0003;;;SY)(A;;0x1f0003;;;BA)(A;;0x1f0003;;;BU)"};
    for (const wchar_t* pszPeerSddl : kPeers) {
        const std::string what = pszPeerSddl ? testing::PrintToString(std::wstring(pszPeerSddl)) : "no security";
        glim::CScopedLocalMemory pPeerSd;
        SECURITY_ATTRIBUTES attributes = {sizeof(attributes), nullptr, FALSE};
        if (pszPeerSddl) {
            ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(pszPeerSddl, SDDL_REVISION_1,
                                                                             pPeerSd.Put(), nullptr));
            attributes.lpSecurityDescriptor = pPeerSd.Get();
        }
        glim::CScopedHandle hPeer(CreateEventW(&attributes, FALSE, FALSE, glim::kEventHotkey));
        ASSERT_TRUE(hPeer) << what;
        glimtest::Clear();
        SetLastError(0xdeadbeef);
        hEvent.Reset(glim::CreateHotkeyEvent(L"ReadThread"));
        EXPECT_FALSE(hEvent) << what;
        EXPECT_EQ(glim::kHotkeyEventForeignError, GetLastError()) << what;
        // Wine keeps no owner for an event made without one, so the owner's SID shows on Windows.
        const std::wstring logged = L"Event event_hwap existed already, owner ";
        const std::wstring owner = glimtest::UnderWine() ? L"" : L"S-1-";
        bool bOwnerLogged = false;
        for (const glimtest::Line& line : glimtest::Lines())
            bOwnerLogged |= line.chLevel == 'W' && line.message.find(logged + owner) == 0;
        EXPECT_TRUE(bOwnerLogged) << what;
        EXPECT_TRUE(glimtest::Contains(
            L"Event event_hwap has security that is not the service's own, not served, dwErr=5010", L"ReadThread"))
            << what;
        hEvent.Reset();
    }
}

namespace {

// The service's settings file in a scratch ALLUSERSPROFILE: CSettingsFile follows the
// variable when its path is built again, and is pointed back at the real one afterwards.
class ServiceSettingsFile : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(m_folder.Path().empty());
        m_pProfile.reset(new glimtest::CScopedEnvVar(L"ALLUSERSPROFILE", m_folder.Path().c_str()));
        ASSERT_EQ(0u, glimtest::EnsureFolder());
        ASSERT_TRUE(CSettingsFile::GetInstance()->BuildPath());
        m_file = glimtest::FilePath();
        m_outside = m_folder.File(L"outside.ini");
        glimtest::Clear();
    }

    void TearDown() override
    {
        glimtest::Remove(m_file);
        m_pProfile.reset();
        CSettingsFile::GetInstance()->BuildPath();
    }

    static int RefusalLines()
    {
        int nLines = 0;
        for (const glimtest::Line& line : glimtest::Lines())
            nLines += line.chLevel == 'E' && line.message.find(L"settings file ") == 0 ? 1 : 0;
        return nLines;
    }

    glimtest::CTempFolder m_folder;
    std::unique_ptr<glimtest::CScopedEnvVar> m_pProfile;
    std::wstring m_file;
    std::wstring m_outside;
};

}  // namespace

// SYSTEM must not read or write through a link a user planted in place of the settings
// file: a symbolic link (a host link under Wine, which Wine follows) or a second name of
// another file (a hard link). The file it leads to stays untouched, reads give the default,
// one 'E' line per refusal; the plain file at the path is read and written again afterwards.
TEST_F(ServiceSettingsFile, LinkInPlaceOfTheFileIsNeitherReadNorWritten)
{
    const std::string kOutside = "[Glimkit]\r\nCurrentKBBrightness=7\r\nKBStatus=2\r\n";
    CSettingsFile* pSettings = CSettingsFile::GetInstance();
    for (const glimtest::SLinkKind& row : glimtest::kLinkKinds) {
        ASSERT_TRUE(glimtest::WriteBytes(m_outside, kOutside));
        if (!row.pfnMake(m_file, m_outside)) {
            ADD_FAILURE() << "no " << row.pszKind << " could be made (Windows: run with the right to make links)";
            continue;
        }
        glimtest::Clear();
        EXPECT_EQ(0u, pSettings->ReadInt(glim::kKeyCurrentKBBrightness, 0)) << "read through a " << row.pszKind;
        pSettings->WriteInt(glim::kKeyKBStatus, 1);
        std::unique_ptr<wchar_t[]> pszValue(pSettings->ReadString(glim::kKeyKBStatus));
        ASSERT_TRUE(pszValue);
        EXPECT_STREQ(L"", pszValue.get()) << "read through a " << row.pszKind;
        pSettings->WriteString(glim::kKeyCurrentKBBrightness, L"3");
        EXPECT_EQ(kOutside, glimtest::ReadBytes(m_outside)) << "written through a " << row.pszKind;
        EXPECT_EQ(1, RefusalLines()) << row.pszKind;
        EXPECT_TRUE(glimtest::Remove(m_file)) << row.pszKind;
        DeleteFileW(m_outside.c_str());

        // The plain file is used again, and a later refusal is logged again.
        ASSERT_TRUE(glimtest::WriteBytes(m_file, "[Glimkit]\r\nCurrentKBBrightness=5\r\n"));
        EXPECT_EQ(5u, pSettings->ReadInt(glim::kKeyCurrentKBBrightness, 0)) << row.pszKind;
        pSettings->WriteInt(glim::kKeyKBStatus, 1);
        EXPECT_EQ(L"1", glimtest::ReadKey(glim::kKeyKBStatus)) << row.pszKind;
        EXPECT_EQ(1, RefusalLines()) << row.pszKind;
        ASSERT_EQ(0u, glimtest::RemoveFile());
    }
    // No file at all: the default, and a write creates it in the (protected) folder.
    EXPECT_EQ(4u, pSettings->ReadInt(glim::kKeyCurrentKBBrightness, 4));
    pSettings->WriteInt(glim::kKeyKBStatus, 2);
    EXPECT_EQ(L"2", glimtest::ReadKey(glim::kKeyKBStatus));
}

// The service's own copy of the settings lock grants SYSTEM and Administrators only.
TEST_F(ServiceSettingsFile, OwnLockGrantsSystemAndAdministratorsOnly)
{
    glim::CScopedHandle hLock(OpenMutexW(READ_CONTROL | SYNCHRONIZE, FALSE, glim::kMutexConf));
    ASSERT_TRUE(hLock) << "the settings lock of this process";
    const std::wstring dacl = DaclText(hLock.Get());
    EXPECT_EQ(0, _wcsicmp(L"D:P(A;;0x1f0001;;;SY)(A;;0x1f0001;;;BA)", dacl.c_str())) << testing::PrintToString(dacl);
}

// Each access takes the service's own lock and then the console session's within one bound:
// a peer holding the lock delays an access by about 3 s, not once per lock, and the write is
// made. Under Wine the two names reach one object (one namespace); that they are two is
// seen on Windows only.
TEST_F(ServiceSettingsFile, PeerHoldingTheLockDelaysAnAccessByOneBound)
{
    wchar_t szSession[CSettingsFile::kSessionNameChars] = {};
    ASSERT_TRUE(CSettingsFile::BuildSessionObjectName(WTSGetActiveConsoleSessionId(), glim::kMutexConf, szSession));
    glim::CScopedHandle hStarted(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    glim::CScopedHandle hRelease(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread peer([&] {
        glim::CScopedHandle hLock(OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, szSession));
        if (hLock && WaitForSingleObject(hLock.Get(), 0) == WAIT_OBJECT_0) {
            SetEvent(hStarted.Get());
            WaitForSingleObject(hRelease.Get(), 20000);
            ReleaseMutex(hLock.Get());
        }
    });
    const bool bHeld = WaitForSingleObject(hStarted.Get(), 5000) == WAIT_OBJECT_0;
    const ULONGLONG ullStart = GetTickCount64();
    if (bHeld)
        CSettingsFile::GetInstance()->WriteInt(glim::kKeyKBStatus, 2);
    const ULONGLONG ullElapsed = GetTickCount64() - ullStart;
    SetEvent(hRelease.Get());
    peer.join();
    ASSERT_TRUE(bHeld) << "the session's lock, " << testing::PrintToString(std::wstring(szSession))
                       << ", could not be opened and held";
    EXPECT_GE(ullElapsed, 2500u) << "the write did not wait for the lock";
    EXPECT_LE(ullElapsed, 4500u) << "the write waited more than one bound";
    EXPECT_EQ(L"2", glimtest::ReadKey(glim::kKeyKBStatus)) << "a delayed write must still be made";
}
