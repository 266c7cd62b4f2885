// Glimward.exe run for real: installed where the installer puts it, driven by its own
// verbs, started by the service control manager, with the simulated filter driver, the
// wtsapi32 stand-in for the session lock and the agent probe at the agent's path.
// Everything is observed from outside: the driver's level and history, the settings file,
// the probe's record of its command lines and the service log.
//
// The service log admits one writer at a time and drops a line that meets another writer
// (by design). A verb process and the service process write at the same moment while the
// service starts or stops, so the lines of that window may be missing: the checks there
// allow a missing line but never a wrong one, and the behaviour tests start the service
// through the control manager directly so the service's own lines are never contended.
#include <gtest/gtest.h>

#include <windows.h>
#include <winternl.h>

#include <iterator>
#include <string>
#include <vector>

#include "FailureActions.h"
#include "GlimNames.h"
#include "GlimwardSystemTest.h"
#include "Scm.h"
#include "ScopedHandle.h"
#include "ServiceHarness.h"
#include "SimDriver.h"
#include "SimDriverChecks.h"
#include "SimSessionProtocol.h"

using namespace glimtest;

namespace {

constexpr DWORD kWaitMs = 15000;
const wchar_t* const kName = glim::kServiceName;

struct SConfig {
    std::wstring binaryPath;
    DWORD dwStartType = 0;
    DWORD dwServiceType = 0;
};

bool QueryConfig(SConfig* pConfig)
{
    glimtest::CScHandle hService = glimtest::OpenServiceHandle(kName, SERVICE_QUERY_CONFIG);
    if (!hService)
        return false;
    DWORD cbNeeded = 0;
    QueryServiceConfigW(hService.Get(), nullptr, 0, &cbNeeded);
    std::vector<BYTE> buffer(cbNeeded);
    auto* pQuery = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (cbNeeded == 0 || !QueryServiceConfigW(hService.Get(), pQuery, cbNeeded, &cbNeeded))
        return false;
    pConfig->binaryPath = pQuery->lpBinaryPathName ? pQuery->lpBinaryPathName : L"";
    pConfig->dwStartType = pQuery->dwStartType;
    pConfig->dwServiceType = pQuery->dwServiceType;
    return true;
}

// Closes the handle another process holds to the object whose name ends in pszNameEnd
// (DuplicateHandle with DUPLICATE_CLOSE_SOURCE). The handle is found by trying each value
// and asking the object's name (NtQueryObject, ObjectNameInformation).
bool CloseHandleOfObjectIn(DWORD dwPid, const std::wstring& nameEnd)
{
    using NtQueryObjectFn = LONG(NTAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
    const auto pfnQuery =
        reinterpret_cast<NtQueryObjectFn>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryObject"));
    glim::CScopedHandle hProcess(OpenProcess(PROCESS_DUP_HANDLE, FALSE, dwPid));
    if (!pfnQuery || !hProcess)
        return false;
    for (ULONG_PTR value = 4; value < 0x4000; value += 4) {
        const HANDLE hRemote = reinterpret_cast<HANDLE>(value);
        glim::CScopedHandle hCopy;
        if (!DuplicateHandle(hProcess.Get(), hRemote, GetCurrentProcess(), hCopy.Put(), 0, FALSE,
                             DUPLICATE_SAME_ACCESS))
            continue;
        alignas(8) BYTE buffer[2048] = {};
        ULONG cb = 0;
        constexpr ULONG kObjectNameInformation = 1;
        if (pfnQuery(hCopy.Get(), kObjectNameInformation, buffer, sizeof(buffer) - 2, &cb) < 0)
            continue;
        const auto* pName = reinterpret_cast<const UNICODE_STRING*>(buffer);
        const std::wstring name(pName->Buffer ? pName->Buffer : L"", pName->Length / sizeof(wchar_t));
        if (name.size() < nameEnd.size() || name.compare(name.size() - nameEnd.size(), nameEnd.size(), nameEnd) != 0)
            continue;
        // Moved here and closed: the other process's handle is gone.
        glim::CScopedHandle hMoved;
        return DuplicateHandle(hProcess.Get(), hRemote, GetCurrentProcess(), hMoved.Put(), 0, FALSE,
                               DUPLICATE_CLOSE_SOURCE | DUPLICATE_SAME_ACCESS) != FALSE;
    }
    return false;
}

class GlimwardSystem : public CGlimwardSystemTest {
protected:
    void SetUpTest() override { ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), m_probe.Install()); }

    // Runs the installed program with a command-line tail; it always exits with 0.
    void Run(const std::wstring& tail) const
    {
        DWORD dwExit = 0xdeadbeef;
        ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
                  glimtest::RunProgram(glimtest::InstalledServicePath(), tail, &dwExit))
            << tail;
        EXPECT_EQ(0u, dwExit) << tail;
    }

    // Installs with the program's own verb and starts it through the manager; the -S verb is tested on its own.
    static void InstallAndStart()
    {
        ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), glimtest::InstallAndStartService(kWaitMs))
            << "the service was not installed, started and listening for the hotkey";
    }

    static void Press() { ASSERT_EQ(glimtest::kStatusSuccess, glimtest::Press()); }

    // A verb's result line may be lost to a concurrent writer, but any that was written
    // must carry the expected result.
    void ExpectResultIfLogged(const wchar_t* pszVerb, int nResult) const
    {
        const std::wstring prefix = std::wstring(L"[") + pszVerb + L"]: dwErr=";
        EXPECT_EQ(m_log.CountMessagePrefix(prefix), m_log.CountMessage(prefix + std::to_wstring(nResult)))
            << "a " << testing::PrintToString(std::wstring(pszVerb)) << " result other than " << nResult;
    }

    // Installs with the program's own verb, asks the manager to start the service and waits
    // for it to stop: the exit code it stopped with, or 0xdeadbeef when it did not stop.
    // (Windows reports the start itself as done; Wine answers 1053 for a service that stops
    // before it runs. Either way the manager keeps the exit code the service stopped with.)
    void StartExpectingAStop(DWORD* pdwExitCode) const
    {
        *pdwExitCode = 0xdeadbeef;
        ASSERT_NO_FATAL_FAILURE(Run(L"x -I"));
        glimtest::CScHandle hService = glimtest::OpenServiceHandle(kName, SERVICE_START | SERVICE_QUERY_STATUS);
        ASSERT_TRUE(hService);
        StartServiceW(hService.Get(), 0, nullptr);
        ASSERT_NO_FATAL_FAILURE(ExpectStopped(pdwExitCode));
    }

    // Waits for the service to stop; *pdwExitCode gets the exit code it stopped with.
    static void ExpectStopped(DWORD* pdwExitCode)
    {
        ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), glimtest::ScmWaitForState(kName, SERVICE_STOPPED, kWaitMs))
            << "the service did not stop";
        glimtest::CScHandle hService = glimtest::OpenServiceHandle(kName, SERVICE_QUERY_STATUS);
        ASSERT_TRUE(hService);
        SERVICE_STATUS status = {};
        ASSERT_TRUE(QueryServiceStatus(hService.Get(), &status));
        *pdwExitCode = status.dwWin32ExitCode;
    }

    bool WaitForStarts(size_t nCount) const
    {
        return WaitUntil([&] { return m_probe.Starts().size() >= nCount; }, kWaitMs);
    }

    bool WaitForStatus(int nStatus) const
    {
        return WaitUntil([&] { return m_settings.Get(glim::kKeyKBStatus) == nStatus; }, kWaitMs);
    }

    glimtest::CAgentProbe m_probe;
};

}  // namespace

TEST_F(GlimwardSystem, VerbsInstallStartStopAndUninstall)
{
    const std::wstring image = L"\"" + glimtest::InstallDir() + L"\\Glimward\"";
    ASSERT_NO_FATAL_FAILURE(Run(L"x -I"));
    SConfig config;
    ASSERT_TRUE(QueryConfig(&config));
    EXPECT_EQ(image, config.binaryPath);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), config.dwStartType);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS), config.dwServiceType);
    EXPECT_EQ(1, m_log.CountMessage(L"[-I]: path=" + image + L", bDelay=0"));
    EXPECT_EQ(1, m_log.CountMessage(L"[-I]: dwErr=0"));

    // A second install fails in the manager; the process still exits with 0.
    ASSERT_NO_FATAL_FAILURE(Run(L"x -i"));
    EXPECT_EQ(1, m_log.CountMessage(L"CreateService failed, dwErr=1073"));
    EXPECT_EQ(1, m_log.CountMessage(L"[-I]: dwErr=1073"));

    // Start and stop: the service writes its own lines meanwhile (see the top of the file).
    ASSERT_NO_FATAL_FAILURE(Run(L"x -S"));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), glimtest::ScmQueryState(kName));
    EXPECT_EQ(1, m_log.CountMessage(L"[-S]: "));
    EXPECT_GE(1, m_log.CountMessage(L"Run service success."));
    ExpectResultIfLogged(L"-S", 0);

    ASSERT_NO_FATAL_FAILURE(Run(L"x -K"));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), glimtest::ScmQueryState(kName));
    EXPECT_EQ(1, m_log.CountMessage(L"[-K]: "));
    EXPECT_EQ(1, m_log.CountMessage(L"Service is not stopped."));
    EXPECT_GE(1, m_log.CountMessage(L"Stop service success."));
    ExpectResultIfLogged(L"-K", 0);

    // Already stopped: 0 at once, without sending a stop; nothing else writes now.
    const int nStopResults = m_log.CountMessage(L"[-K]: dwErr=0");
    const ULONGLONG ullBefore = GetTickCount64();
    ASSERT_NO_FATAL_FAILURE(Run(L"x -k"));
    EXPECT_LT(GetTickCount64() - ullBefore, 5000u);
    EXPECT_EQ(nStopResults + 1, m_log.CountMessage(L"[-K]: dwErr=0"));
    EXPECT_EQ(1, m_log.CountMessage(L"Service is not stopped."));

    ASSERT_NO_FATAL_FAILURE(Run(L"x -U"));
    DWORD dwErr = 0;
    EXPECT_EQ(0u, glimtest::ScmQueryState(kName, &dwErr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST), dwErr);
    EXPECT_EQ(1, m_log.CountMessage(L"AfterDeleteService, dwErr=0"));
    EXPECT_EQ(1, m_log.CountMessage(L"[-U]: dwErr=0"));

    // Nothing left to remove or start: the error is logged and the exit code stays 0.
    ASSERT_NO_FATAL_FAILURE(Run(L"x -u"));
    EXPECT_EQ(1, m_log.CountMessage(L"[-U]: dwErr=1060"));
    EXPECT_EQ(1, m_log.CountMessage(L"Stop failed, dwErr=1060"));
    ASSERT_NO_FATAL_FAILURE(Run(L"x -s"));
    EXPECT_EQ(2, m_log.CountMessage(L"OpenService failed, dwErr=1060"));
    EXPECT_EQ(1, m_log.CountMessage(L"[-S]: dwErr=1060"));
}

TEST_F(GlimwardSystem, DelayedStartOption)
{
    ASSERT_NO_FATAL_FAILURE(Run(L"x -i d"));
    SConfig config;
    ASSERT_TRUE(QueryConfig(&config));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), config.dwStartType);
    EXPECT_EQ(1, m_log.CountMessage(L"[-I]: path=\"" + glimtest::InstallDir() + L"\\Glimward\", bDelay=1"));
    // Wine does not support delayed automatic start (error 124); Windows does.
    glimtest::CScHandle hService = glimtest::OpenServiceHandle(kName, SERVICE_QUERY_CONFIG);
    SERVICE_DELAYED_AUTO_START_INFO delayed = {};
    DWORD cbNeeded = 0;
    SetLastError(0xdeadbeef);
    if (QueryServiceConfig2W(hService.Get(), SERVICE_CONFIG_DELAYED_AUTO_START_INFO, reinterpret_cast<BYTE*>(&delayed),
                             sizeof(delayed), &cbNeeded)) {
        EXPECT_TRUE(delayed.fDelayedAutostart);
        EXPECT_EQ(1, m_log.CountMessage(L"[-I]: dwErr=0"));
    } else {
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_LEVEL), GetLastError());
        EXPECT_EQ(1, m_log.CountMessage(L"ChangeServiceConfig2(autostart) failed, dwErr=124"));
        EXPECT_EQ(1, m_log.CountMessage(L"[-I]: dwErr=124"));
    }
    hService.Reset();

    // An option of two letters asks for nothing.
    ASSERT_NO_FATAL_FAILURE(Run(L"x -U"));
    const int nSucceeded = m_log.CountMessage(L"[-I]: dwErr=0");
    ASSERT_NO_FATAL_FAILURE(Run(L"x -I DD"));
    EXPECT_EQ(1, m_log.CountMessage(L"[-I]: path=\"" + glimtest::InstallDir() + L"\\Glimward\", bDelay=0"));
    EXPECT_EQ(nSucceeded + 1, m_log.CountMessage(L"[-I]: dwErr=0"));
    EXPECT_GE(1, m_log.CountMessage(L"ChangeServiceConfig2(autostart) failed, dwErr=124"));
}

// After a crash the control manager restarts the service: 5 s, 30 s, then every 60 s, with
// the count reset after a day.
TEST_F(GlimwardSystem, InstallConfiguresRestartAfterAFailure)
{
    ASSERT_NO_FATAL_FAILURE(Run(L"x -I"));
    EXPECT_EQ(1, m_log.CountMessage(L"Failure actions: restart after 5000, 30000, 60000 ms; reset after 86400 s."));
    glimtest::CScHandle hService = glimtest::OpenServiceHandle(kName, SERVICE_QUERY_CONFIG);
    ASSERT_TRUE(hService);
    // The actions also follow a stop with an error or a failed start.
    BOOL bOnErrors = FALSE;
    DWORD dwErr = 0;
    if (glimtest::ReadFailureActionsFlag(hService.Get(), &bOnErrors, &dwErr)) {
        EXPECT_TRUE(bOnErrors);
        EXPECT_EQ(1, m_log.CountMessage(L"Failure actions also after a stop with an error."));
    } else {
        // Wine does not report the flag: that the call was made is seen, and the install goes on.
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_LEVEL), dwErr);
        EXPECT_EQ(1,
                  m_log.CountMessage(L"Failure actions also after a stop with an error.") +
                      m_log.CountMessagePrefix(L"ChangeServiceConfig2(failure actions flag) failed, dwErr="));
        ExpectResultIfLogged(L"-I", 0);
    }
    glimtest::ExpectStoredProductRecovery(hService.Get());
}

// Any process can create the service's mutex or the press event before the service does. A
// mutex held while the service does not run is logged and passed: the service starts and
// serves presses. A press event made by a peer could take presses or keep the service out:
// the service logs its owner and an error and stops with its own error instead of serving it.
TEST_F(GlimwardSystem, NamesTakenFirstByAnotherProcessStopNeitherStartNorPresses)
{
    m_settings.Set(glim::kKeyKBStatus, 1);
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), m_session.SetFlags(simsession::kFlagsUnlocked));
    {
        glim::CScopedHandle hTaken(CreateMutexW(nullptr, TRUE, glim::kServiceName));
        ASSERT_TRUE(hTaken);
        ASSERT_NO_FATAL_FAILURE(InstallAndStart());
        EXPECT_EQ(1,
                  m_log.CountMessagePrefix(
                      L"Mutex Glimward is taken but the service is not running (state 2), dispatching."));
        ASSERT_NO_FATAL_FAILURE(Press());
        EXPECT_TRUE(WaitForStarts(1)) << "no press served with the service's mutex taken";
        ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), glimtest::ScmRemove(kName));
    }

    const int nRunning = m_log.CountMessagePrefix(L"Set [RUNNING] status");
    glim::CScopedHandle hPeer(CreateEventW(nullptr, FALSE, FALSE, glim::kEventHotkey));
    ASSERT_TRUE(hPeer);
    DWORD dwExitCode = 0;
    ASSERT_NO_FATAL_FAILURE(StartExpectingAStop(&dwExitCode));
    EXPECT_EQ(static_cast<DWORD>(ERROR_OBJECT_ALREADY_EXISTS), dwExitCode);
    EXPECT_TRUE(m_log.WaitForMessage(L"EnterMainLoop failed, dwErr=5010", kWaitMs));
    EXPECT_EQ(1, m_log.CountMessagePrefix(L"Event event_hwap existed already, owner "));
    EXPECT_EQ(
        1, m_log.CountMessage(L"Event event_hwap has security that is not the service's own, not served, dwErr=5010"));
    EXPECT_EQ(nRunning, m_log.CountMessagePrefix(L"Set [RUNNING] status")) << "reported running with a peer's event";
}

TEST_F(GlimwardSystem, WordsThatAreNotVerbsDoNothing)
{
    for (const wchar_t* pszTail : {L"-I D", L"x -IX", L"x -X", L"x I"}) {
        ASSERT_NO_FATAL_FAILURE(Run(pszTail));
        DWORD dwErr = 0;
        EXPECT_EQ(0u, glimtest::ScmQueryState(kName, &dwErr)) << pszTail;
        EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST), dwErr) << pszTail;
    }
    EXPECT_TRUE(m_log.Text().empty()) << "no line at all for words that are not verbs";
}

TEST_F(GlimwardSystem, ServiceEntryRunByHandFailsToDispatch)
{
    // A tail of only -I puts -I in element 0: the service entry runs, outside the manager.
    // (Wine takes about ten seconds to give up connecting to the manager.)
    ASSERT_NO_FATAL_FAILURE(Run(L"-I"));
    EXPECT_EQ(1, m_log.CountMessage(L"ServiceMutex: Glimward"));
    EXPECT_EQ(1, m_log.CountMessage(L"StartServiceCtrlDispatcher failed, dwErr=1063"));
    DWORD dwErr = 0;
    EXPECT_EQ(0u, glimtest::ScmQueryState(kName, &dwErr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST), dwErr);
}

TEST_F(GlimwardSystem, ReadLoopThatCannotStartStopsTheServiceWithItsError)
{
    // A mutex holding the hotkey event's name keeps the read thread from creating the event;
    // the error it meets is the one this process meets.
    glim::CScopedHandle hSquatter(CreateMutexW(nullptr, FALSE, glim::kEventHotkey));
    ASSERT_TRUE(hSquatter);
    SetLastError(0xdeadbeef);
    ASSERT_EQ(nullptr, CreateEventW(nullptr, FALSE, FALSE, glim::kEventHotkey));
    const DWORD dwExpected = GetLastError();
    ASSERT_NE(0xdeadbeefu, dwExpected);

    DWORD dwExitCode = 0;
    ASSERT_NO_FATAL_FAILURE(StartExpectingAStop(&dwExitCode));
    EXPECT_EQ(dwExpected, dwExitCode);
    const std::wstring error = L"dwErr=" + std::to_wstring(dwExpected);
    EXPECT_TRUE(m_log.WaitForMessage(L"CreateEvent(event_hwap) failed, " + error, kWaitMs));
    EXPECT_TRUE(m_log.WaitForMessage(L"EnterMainLoop failed, " + error, kWaitMs));
    EXPECT_EQ(0, m_log.CountMessagePrefix(L"Set [RUNNING] status")) << "reported running without a read loop";
}

// A read thread whose wait fails has ended: the service stops with that error (so the
// control manager's recovery can restart it) instead of running on with a dead hotkey. The
// wait is made to fail by closing the service's handle of the event from outside.
TEST_F(GlimwardSystem, ReadLoopWhoseWaitFailsStopsTheServiceWithItsError)
{
    m_settings.Set(glim::kKeyKBStatus, 1);
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), m_session.SetFlags(simsession::kFlagsUnlocked));
    ASSERT_NO_FATAL_FAILURE(InstallAndStart());
    // This process's own reference keeps the event alive once the service's handle is gone.
    glim::CScopedHandle hEvent(OpenEventW(EVENT_MODIFY_STATE, FALSE, glim::kEventHotkey));
    ASSERT_TRUE(hEvent);
    const DWORD dwPid = glimtest::ServiceProcessId(kName);
    ASSERT_NE(0u, dwPid);
    ASSERT_TRUE(CloseHandleOfObjectIn(dwPid, L"\\event_hwap")) << "the service's handle of event_hwap was not found";
    // The thread waits on the object, not the handle: the next press wakes it, and its next
    // wait fails with the invalid handle.
    ASSERT_TRUE(SetEvent(hEvent.Get()));
    EXPECT_TRUE(m_log.WaitForMessage(L"WaitForSingleObject failed, dwErr=6", kWaitMs));
    DWORD dwExitCode = 0;
    ASSERT_NO_FATAL_FAILURE(ExpectStopped(&dwExitCode)) << "the service runs on without its read thread";
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), dwExitCode);
    EXPECT_TRUE(m_log.WaitForMessage(L"the service's work ended, stopping, dwErr=6", kWaitMs));
}

TEST_F(GlimwardSystem, StartRestoresTheRecordedLevel)
{
    m_settings.Set(glim::kKeyCurrentKBBrightness, 7);
    ASSERT_EQ(0, DriverLevel());
    ASSERT_NO_FATAL_FAILURE(InstallAndStart());
    EXPECT_TRUE(WaitUntil([] { return DriverLevel() == 7; }, kWaitMs)) << "level " << DriverLevel();
    EXPECT_TRUE(m_log.WaitForMessage(L"tovin EnterMainLoop", kWaitMs));
    EXPECT_TRUE(m_log.WaitForMessage(L"iBrightness is 7", kWaitMs));

    // A second process of the program finds the service's mutex and leaves.
    ASSERT_NO_FATAL_FAILURE(Run(L""));
    EXPECT_EQ(1, m_log.CountMessage(L"Service already running."));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), glimtest::ScmQueryState(kName));
}

TEST_F(GlimwardSystem, UnlockedPressStartsTheAgentForAStatusChange)
{
    m_settings.Set(glim::kKeyKBStatus, 1);
    m_settings.Set(glim::kKeyKBBrightness, 6);
    m_settings.Set(glim::kKeyCurrentKBBrightness, 4);
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), m_session.SetFlags(simsession::kFlagsUnlocked));
    ASSERT_NO_FATAL_FAILURE(InstallAndStart());
    ASSERT_TRUE(WaitUntil([] { return DriverLevel() == 4; }, kWaitMs));
    const ULONG ulRequests = RequestTotal();

    ASSERT_NO_FATAL_FAILURE(Press());
    ASSERT_TRUE(WaitForStarts(1)) << "the agent was not started";
    EXPECT_EQ(std::vector<std::wstring>{L"cmd_service-3-statuschange"}, m_probe.Starts());
    EXPECT_TRUE(m_log.WaitForMessage(L"NoSessionLocked", kWaitMs));
    EXPECT_GE(m_session.Queries(), 1u) << "the wtsapi32 stand-in was not consulted";
    // Exactly one start, and neither the status nor the device touched. The sentinel: the
    // service stopped, which waits for an agent start under way and ends all later ones.
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), glimtest::ScmStop(glim::kServiceName));
    EXPECT_EQ(1u, m_probe.Starts().size()) << "more than one agent start";
    EXPECT_EQ(1, m_settings.Get(glim::kKeyKBStatus));
    EXPECT_EQ(4, DriverLevel());
    EXPECT_EQ(ulRequests, RequestTotal());
}

// What the started agent holds, seen by the probe: the elevation of the user's own shell
// (under Wine every process runs with the one user's elevated token, so explorer's is the
// measure) and no debug privilege, whether the token comes from the session query or, when
// that fails, from the session's explorer.
TEST_F(GlimwardSystem, PressStartsTheAgentWithTheUsersOwnToken)
{
    const std::wstring explorer = glimtest::DescribeExplorerToken();
    ASSERT_FALSE(explorer.empty());
    const auto elevation = [](const std::wstring& line) { return line.substr(0, line.find(L" privileges=")); };
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), m_session.SetFlags(simsession::kFlagsUnlocked));
    ASSERT_NO_FATAL_FAILURE(InstallAndStart());

    const struct {
        const char* pszWhat;
        DWORD dwTokenFailure;
    } cases[] = {{"the session's token", 0}, {"explorer's, the session query failing", ERROR_NO_TOKEN}};
    size_t nStarts = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), m_session.SetTokenFailure(c.dwTokenFailure));
        Sleep(600);  // past the 500 ms that joins presses
        ASSERT_NO_FATAL_FAILURE(Press());
        ASSERT_TRUE(WaitForStarts(++nStarts)) << "the agent was not started";
        ASSERT_TRUE(WaitUntil([&] { return m_probe.Tokens().size() >= nStarts; }, kWaitMs));
        const std::wstring token = m_probe.Tokens()[nStarts - 1];
        EXPECT_EQ(elevation(explorer), elevation(token)) << testing::PrintToString(token);
        EXPECT_EQ(std::wstring::npos, token.find(L"SeDebugPrivilege")) << testing::PrintToString(token);
    }
    EXPECT_EQ(1, m_log.CountMessage(L"WTSQueryUserToken failed, dwErr=" + std::to_wstring(ERROR_NO_TOKEN)));
}

TEST_F(GlimwardSystem, LockedPressTogglesOffAndOn)
{
    m_settings.Set(glim::kKeyKBStatus, 2);
    m_settings.Set(glim::kKeyKBBrightness, 6);
    m_settings.Set(glim::kKeyCurrentKBBrightness, 3);
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), m_session.SetFlags(simsession::kFlagsLocked));
    ASSERT_NO_FATAL_FAILURE(InstallAndStart());
    ASSERT_TRUE(WaitUntil([] { return DriverLevel() == 3; }, kWaitMs));

    ASSERT_NO_FATAL_FAILURE(Press());
    ASSERT_TRUE(WaitForStatus(0)) << "KBStatus " << m_settings.Get(glim::kKeyKBStatus);
    EXPECT_EQ(0, DriverLevel());
    ASSERT_TRUE(WaitForStarts(1));
    EXPECT_EQ(L"cmd_service-2-osd", m_probe.Starts()[0]);
    EXPECT_TRUE(m_log.WaitForMessage(L"SessionLocked", kWaitMs));
    EXPECT_EQ(1, m_log.CountMessage(L"status is 2"));

    Sleep(600);  // past the hotkey interval
    ASSERT_NO_FATAL_FAILURE(Press());
    ASSERT_TRUE(WaitForStatus(1)) << "KBStatus " << m_settings.Get(glim::kKeyKBStatus);
    EXPECT_EQ(6, DriverLevel());
    ASSERT_TRUE(WaitForStarts(2));
    EXPECT_EQ(L"cmd_service-2-osd", m_probe.Starts()[1]);
    EXPECT_TRUE(m_log.WaitForMessage(L"iBrightness is 6", kWaitMs));
}

TEST_F(GlimwardSystem, LockedPressWritesTheStatusEvenWhenTheDeviceFails)
{
    m_settings.Set(glim::kKeyKBStatus, 1);
    m_settings.Set(glim::kKeyCurrentKBBrightness, 5);
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), m_session.SetFlags(simsession::kFlagsLocked));
    ASSERT_NO_FATAL_FAILURE(InstallAndStart());
    ASSERT_TRUE(WaitUntil([] { return DriverLevel() == 5; }, kWaitMs));
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), glimtest::FailNext(1, simkb::SimFailError));

    ASSERT_NO_FATAL_FAILURE(Press());
    ASSERT_TRUE(WaitForStatus(0));
    ASSERT_TRUE(WaitForStarts(1));
    EXPECT_EQ(L"cmd_service-2-osd", m_probe.Starts()[0]);
    EXPECT_EQ(5, DriverLevel());
    glimtest::SHistory history;
    ASSERT_TRUE(glimtest::History(&history));
    ASSERT_FALSE(history.records.empty());
    EXPECT_EQ(0, history.records.back().lLevel);
    EXPECT_EQ(0u, history.records.back().ulBytes);
}

TEST_F(GlimwardSystem, PressesWithin500msGiveOneAction)
{
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), m_session.SetFlags(simsession::kFlagsUnlocked));
    ASSERT_NO_FATAL_FAILURE(InstallAndStart());

    ASSERT_NO_FATAL_FAILURE(Press());
    Sleep(300);
    ASSERT_NO_FATAL_FAILURE(Press());
    ASSERT_TRUE(WaitUntil([&] { return m_log.CountMessage(L"tovin read") == 2; }, kWaitMs));
    ASSERT_TRUE(WaitForStarts(1));
    EXPECT_EQ(1, m_log.CountMessage(L"f12 span meets"));
    EXPECT_EQ(1u, m_probe.Starts().size());

    Sleep(600);
    ASSERT_NO_FATAL_FAILURE(Press());
    ASSERT_TRUE(WaitForStarts(2));
    // The sentinel: the service stopped, which waits for an agent start under way and ends
    // all later ones, so a second press taken as a press would show by now.
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), glimtest::ScmStop(glim::kServiceName));
    EXPECT_EQ(3, m_log.CountMessage(L"tovin read"));
    EXPECT_EQ(2, m_log.CountMessage(L"f12 span meets"));
    EXPECT_EQ(2u, m_probe.Starts().size());
}

TEST_F(GlimwardSystem, ServiceLogLinesAndCleanStop)
{
    ASSERT_NO_FATAL_FAILURE(InstallAndStart());
    const DWORD dwPid = glimtest::ServiceProcessId(kName);
    ASSERT_NE(0u, dwPid);
    for (const wchar_t* pszMessage :
         {L"ServiceMutex: Glimward", L"tovin EnterMainLoop", L"iBrightness is 0",
          L"Set [START PENDING] status, dwErr=0", L"BeforeMainLoop: dwErr=0", L"Set [RUNNING] status, dwErr=0"}) {
        EXPECT_TRUE(m_log.WaitForMessage(pszMessage, kWaitMs)) << testing::PrintToString(std::wstring(pszMessage));
    }
    EXPECT_EQ(1, m_log.CountMessagePrefix(L"Modern Standby AoAc: "));
    // Every line of the service process has its id, a 12-hour time and the message.
    const std::wstring pidField = L"Pid:" + std::to_wstring(dwPid) + L"  ";
    const std::wstring text = m_log.Text();
    const size_t at = text.find(pidField);
    ASSERT_NE(std::wstring::npos, at);
    const std::wstring line = text.substr(at, text.find(L"\r\n", at) + 2 - at);
    ASSERT_GT(line.size(), pidField.size() + 10);
    const std::wstring time = line.substr(pidField.size(), 8);
    EXPECT_TRUE(time[2] == L':' && time[5] == L':') << testing::PrintToString(line);
    EXPECT_GE(_wtoi(time.c_str()), 1);
    EXPECT_LE(_wtoi(time.c_str()), 12);
    EXPECT_EQ(L"  ", line.substr(pidField.size() + 8, 2));
    EXPECT_EQ(L" \r\n", line.substr(line.size() - 3));

    const glim::CScopedHandle hProcess(OpenProcess(SYNCHRONIZE, FALSE, dwPid));
    ASSERT_TRUE(hProcess);
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), glimtest::ScmStop(kName));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), glimtest::ScmQueryState(kName));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hProcess.Get(), kWaitMs)) << "the service process did not end";
    for (const wchar_t* pszMessage : {L"dwControl: 1, dwErr=0", L"TerminateMainLoop", L"MainLoop: nRet=0",
                                      L"Set [STOP PENDING] status, dwErr=0", L"AfterMainLoop: "}) {
        EXPECT_EQ(1, m_log.CountMessage(pszMessage)) << testing::PrintToString(std::wstring(pszMessage));
    }

    // A shutdown control cannot be sent by a program (the manager keeps it for system
    // shutdown); the handler's shutdown path is exercised in-process.
    SetLastError(0xdeadbeef);
    glimtest::CScHandle hService = glimtest::OpenServiceHandle(kName, SERVICE_ALL_ACCESS);
    SERVICE_STATUS status = {};
    EXPECT_FALSE(ControlService(hService.Get(), SERVICE_CONTROL_SHUTDOWN, &status));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
}

TEST_F(GlimwardSystem, MissingServiceLogStaysMissing)
{
    m_log.Delete();
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), m_session.SetFlags(simsession::kFlagsUnlocked));
    ASSERT_NO_FATAL_FAILURE(InstallAndStart());
    ASSERT_NO_FATAL_FAILURE(Press());
    ASSERT_TRUE(WaitForStarts(1));
    ASSERT_NO_FATAL_FAILURE(Run(L"x -K"));
    EXPECT_FALSE(m_log.Exists());
}
