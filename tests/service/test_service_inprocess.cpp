// The service's hooks called in-process, the way the control manager's thread calls them:
// the control handler's dispatch, power events against the simulated driver (the control
// manager gives a test no way to send those), the verb dispatcher's refusals, and the
// launcher starting the agent probe.
#include <gtest/gtest.h>

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <memory>
#include <thread>

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
#include "SettingsFile.h"
#include "SettingsFileTools.h"
#include "LogTestUtil.h"
#include "TestLog.h"
#include "UsermodeProcess.h"

using glimtest::DriverLevel;
using glimtest::RequestTotal;

namespace {

constexpr DWORD kPbtSuspend = 4;             // PBT_APMSUSPEND
constexpr DWORD kPbtResumeSuspend = 7;       // PBT_APMRESUMESUSPEND
constexpr DWORD kPbtResumeAutomatic = 18;    // PBT_APMRESUMEAUTOMATIC
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
        const DWORD dwErr = m_driver.Install();
        if (dwErr != ERROR_SUCCESS)
            GTEST_SKIP() << "the simulated driver could not be installed and started, error " << dwErr;
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
        if (!glimtest::EnsureExplorer())
            GTEST_SKIP() << "Wine's explorer.exe did not start";
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
