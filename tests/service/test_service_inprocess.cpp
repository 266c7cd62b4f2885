// The service's hooks called in-process, the way the control manager's thread calls them:
// the control handler's dispatch, power events against the simulated driver (the control
// manager gives a test no way to send those), the verb dispatcher's refusals, and the
// launcher starting the agent probe.
#include <gtest/gtest.h>

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include "DeviceProtocol.h"
#include "GlimNames.h"
#include "HostLink.h"
#include "KBBackLight.h"
#include "ReadLoop.h"
#include "ScopedHandle.h"
#include "Service.h"
#include "ServiceHarness.h"
#include "SimDriver.h"
#include "SimDriverChecks.h"
#include "TestLog.h"
#include "UsermodeProcess.h"

using glimtest::DriverLevel;
using glimtest::RequestTotal;

namespace {

constexpr DWORD kPbtSuspend = 4;             // PBT_APMSUSPEND
constexpr DWORD kPbtResumeSuspend = 7;       // PBT_APMRESUMESUSPEND
constexpr DWORD kPbtResumeAutomatic = 18;    // PBT_APMRESUMEAUTOMATIC
constexpr DWORD kPbtPowerSettingChange = 0x8013;

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
    CService m_service;
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

TEST(LauncherToken, NoTokenWhenNeitherLinkedNorDuplicateIsObtained)
{
    // A handle without query or duplicate rights yields neither token.
    glim::CScopedHandle hWeak;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_DEFAULT, hWeak.Put()));
    SetLastError(0xdeadbeef);
    glim::CScopedHandle hChosen(glim::ChooseAgentToken(hWeak.Get()));
    EXPECT_FALSE(hChosen);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());

    // A handle with the launcher's rights yields a token (the linked one where it exists).
    glim::CScopedHandle hFull;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), 0xF00FF, hFull.Put()));
    hChosen = glim::ChooseAgentToken(hFull.Get());
    ASSERT_TRUE(hChosen);
}

// Under Wine the integrity level is a stub: it is read for any handle, and setting it succeeds
// and changes nothing. So the raised level, and the logged failure the launcher goes on after,
// are seen on Windows only (where raising a level above the caller's own needs the Tcb
// privilege that LocalSystem holds).
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
    ASSERT_TRUE(DuplicateTokenEx(hOwn.Get(), MAXIMUM_ALLOWED, nullptr, SecurityIdentification, TokenPrimary,
                                 hToken.Put()));
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

// The press event lets SYSTEM and Administrators signal it and nobody else; an event that a
// peer created first is used as it is and its owner is logged.
TEST(HotkeyEvent, CreatedWithItsOwnSecurityAndAPeersEventIsReported)
{
    glim::CScopedHandle hEvent(glim::CreateHotkeyEvent(L"ReadThread"));
    ASSERT_TRUE(hEvent);
    ASSERT_NE(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError()) << "the service's event is running here";
    glim::CScopedLocalMemory pSd;
    PACL pDacl = nullptr;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetSecurityInfo(hEvent.Get(), SE_KERNEL_OBJECT,
                                                                 DACL_SECURITY_INFORMATION, nullptr, nullptr, &pDacl,
                                                                 nullptr, pSd.Put()));
    wchar_t* pszSddl = nullptr;
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(
        pSd.Get(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, &pszSddl,
        nullptr));
    glim::CScopedLocalMemory sddl(pszSddl);
    EXPECT_EQ(0, _wcsicmp(glim::kHotkeyEventSddl, pszSddl)) << testing::PrintToString(std::wstring(pszSddl));
    hEvent.Reset();

    glim::CScopedHandle hPeer(CreateEventW(nullptr, FALSE, FALSE, glim::kEventHotkey));
    ASSERT_TRUE(hPeer);
    glimtest::Clear();
    hEvent.Reset(glim::CreateHotkeyEvent(L"ReadThread"));
    ASSERT_TRUE(hEvent);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
    // Wine keeps no owner for an event made without one, so the owner's SID shows on Windows.
    const std::wstring logged = L"Event event_hwap existed already, owner ";
    const std::wstring owner = glimtest::UnderWine() ? L"" : L"S-1-";
    bool bOwnerLogged = false;
    for (const glimtest::Line& line : glimtest::Lines())
        bOwnerLogged |= line.chLevel == 'W' && line.message.find(logged + owner) == 0;
    EXPECT_TRUE(bOwnerLogged);
}
