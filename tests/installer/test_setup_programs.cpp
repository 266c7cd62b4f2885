// The setup helper's verbs around the running programs, in-process against stand-ins: a
// service of the test's own under the Wine service manager (one that stops, one that stops too
// late), agent windows that obey or ignore their exit command, program files held open, and
// the record of what ran under a key of the test's own.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "ChildProcess.h"
#include "Programs.h"
#include "Scm.h"
#include "ScopedHandle.h"
#include "SetupHelperTest.h"
#include "TempFolder.h"
#include "Wait.h"

using namespace glimsetup;
using glimtest::HasLine;

namespace {

constexpr const wchar_t* kPeerService = L"GlimSetupPeerSvc";
constexpr DWORD kShortBoundMs = 1500;
constexpr DWORD kLateStopMs = 8000;

std::wstring TestTitle(const wchar_t* pszWhat)
{
    return std::wstring(L"GlimSetupPeer ") + pszWhat + L" " + std::to_wstring(GetCurrentProcessId());
}

// A place of the test's own: its service name, agent title and record key, short bounds.
class CPlaceFixture : public testing::Test {
protected:
    void SetUp() override
    {
        m_place.strServiceName = kPeerService;
        m_place.strAgentTitle = TestTitle(L"agent");
        m_place.hRecordRoot = HKEY_CURRENT_USER;
        m_place.strRecordKey = L"Software\\Vessik\\GlimkitTest\\Setup" + std::to_wstring(GetCurrentProcessId());
        m_place.dwServiceWaitMs = 10000;
        m_place.dwAgentExitMs = 10000;
        DeleteRecord();
    }
    void TearDown() override { DeleteRecord(); }

    void DeleteRecord() const
    {
        RegDeleteKeyExW(m_place.hRecordRoot, m_place.strRecordKey.c_str(), KEY_WOW64_64KEY, 0);
    }
    bool HasRecord() const
    {
        glim::CScopedKey hKey;
        return RegOpenKeyExW(m_place.hRecordRoot, m_place.strRecordKey.c_str(), 0, KEY_READ | KEY_WOW64_64KEY,
                             hKey.Put()) == ERROR_SUCCESS;
    }
    // The value, or -1 when it is missing.
    int RecordValue(const wchar_t* pszName) const
    {
        DWORD dwValue = 0;
        DWORD cb = sizeof(dwValue);
        if (RegGetValueW(m_place.hRecordRoot, m_place.strRecordKey.c_str(), pszName, RRF_RT_REG_DWORD, nullptr,
                         &dwValue, &cb) != ERROR_SUCCESS)
            return -1;
        return static_cast<int>(dwValue);
    }
    void WriteRecord(int nService, int nAgent) const
    {
        const DWORD values[2] = {static_cast<DWORD>(nService), static_cast<DWORD>(nAgent)};
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetKeyValueW(m_place.hRecordRoot, m_place.strRecordKey.c_str(), glim::kServiceWasRunningValue,
                                  REG_DWORD, &values[0], sizeof(DWORD)));
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetKeyValueW(m_place.hRecordRoot, m_place.strRecordKey.c_str(), glim::kAgentWasRunningValue,
                                  REG_DWORD, &values[1], sizeof(DWORD)));
    }
    // Installs the stand-in service, stopping stopDelay ms after it is asked to.
    DWORD InstallPeerService(DWORD dwStopDelayMs)
    {
        return m_service.Install(
            glimtest::PeerServiceConfig(kPeerService,
                                        glimtest::CChildProcess::QuoteArg(glimtest::SetupPeerPath()) + L" service " +
                                            std::to_wstring(dwStopDelayMs)));
    }
    // Starts an agent stand-in window with this place's title and waits until it shows.
    void StartAgentWindow(glimtest::CChildProcess* pChild, bool bObey) const
    {
        ASSERT_EQ(0u,
                  pChild->Start(glimtest::SetupPeerPath(),
                                L"window " + glimtest::CChildProcess::QuoteArg(m_place.strAgentTitle) +
                                    (bObey ? L" obey" : L" ignore")));
        ASSERT_TRUE(glimtest::WaitUntil(
            [this] { return FindWindowW(nullptr, m_place.strAgentTitle.c_str()) != nullptr; }, 10000));
    }

    SSetupPlace m_place;
    glimtest::CServiceInstall m_service;
};

using SetupHelperStop = CPlaceFixture;

// What ran, what the stop makes of it and what it writes down.
TEST_F(SetupHelperStop, RecordsWhatRanAndFailsWhenSomethingDoesNotStop)
{
    enum class Service { None, Stopped, Stops, StopsLate };
    enum class Agent { None, Obeys, Ignores };
    struct SCase {
        const char* pszName;
        Service service;
        Agent agent;
        int nExit;
        const wchar_t* pszWasRunning;
        const wchar_t* pszFailureStart;
    };
    const SCase cases[] = {
        {"nothing runs", Service::None, Agent::None, kExitDone, L"service no, agent no", L""},
        {"a stopped service", Service::Stopped, Agent::None, kExitDone, L"service no, agent no", L""},
        {"a service that stops", Service::Stops, Agent::None, kExitDone, L"service yes, agent no", L""},
        {"a service that does not stop in time", Service::StopsLate, Agent::Obeys, kExitFailed,
         L"service yes, agent yes", L"The service GlimSetupPeerSvc did not stop within 1500 ms (state 3)"},
        {"an agent that ends", Service::None, Agent::Obeys, kExitDone, L"service no, agent yes", L""},
        {"an agent that does not end", Service::Stops, Agent::Ignores, kExitFailed, L"service yes, agent yes",
         L"Glimagent (process "},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        m_place.dwServiceWaitMs = c.service == Service::StopsLate ? kShortBoundMs : 10000;
        m_place.dwAgentExitMs = c.agent == Agent::Ignores ? kShortBoundMs : 10000;
        if (c.service != Service::None) {
            ASSERT_EQ(0u, InstallPeerService(c.service == Service::StopsLate ? kLateStopMs : 0));
            if (c.service != Service::Stopped) {
                ASSERT_EQ(0u, m_service.Start());
            }
        }
        glimtest::CChildProcess agent;
        if (c.agent != Agent::None)
            StartAgentWindow(&agent, c.agent == Agent::Obeys);

        const SVerbResult result = StopPrograms(m_place);

        EXPECT_EQ(c.nExit, result.nExit) << result.strFailure;
        EXPECT_TRUE(HasLine(result, std::wstring(L"Was running: ") + c.pszWasRunning));
        EXPECT_EQ(0u, result.strFailure.rfind(c.pszFailureStart, 0)) << result.strFailure;
        EXPECT_EQ(c.service == Service::Stops || c.service == Service::StopsLate ? 1 : 0,
                  RecordValue(glim::kServiceWasRunningValue));
        EXPECT_EQ(c.agent == Agent::None ? 0 : 1, RecordValue(glim::kAgentWasRunningValue));
        if (c.service == Service::Stops) {
            EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), glimtest::ScmQueryState(kPeerService));
        }
        if (c.agent == Agent::Obeys && c.service != Service::StopsLate) {
            EXPECT_TRUE(agent.WaitExit(0));
        }
        if (c.agent == Agent::Ignores) {
            EXPECT_TRUE(agent.IsRunning());
        }
        agent.Terminate();
        EXPECT_EQ(0u, m_service.Remove());
        DeleteRecord();
    }
}

using SetupHelperRestore = CPlaceFixture;

TEST_F(SetupHelperRestore, StartsWhatWasRecordedAndDeletesTheRecord)
{
    struct SCase {
        const char* pszName;
        int nService;  // -1: no record at all
        int nAgent;
        bool bAgentStartFails;
        int nExit;
    };
    const SCase cases[] = {
        {"no record", -1, 0, false, kExitDone},      {"nothing ran", 0, 0, false, kExitDone},
        {"the service ran", 1, 0, false, kExitDone}, {"the agent ran", 0, 1, false, kExitDone},
        {"both ran", 1, 1, false, kExitDone},        {"the agent's start fails", 0, 1, true, kExitFailed},
    };
    ASSERT_EQ(0u, InstallPeerService(0));
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        if (c.nService >= 0)
            WriteRecord(c.nService, c.nAgent);
        int nAgentStarts = 0;
        const auto startAgent = [&nAgentStarts, &c] {
            ++nAgentStarts;
            CVerb verb;
            verb.Say(L"agent started");
            if (c.bAgentStartFails)
                verb.Fail(L"the shell said no");
            return verb.Take();
        };

        const SVerbResult result = RestorePrograms(m_place, startAgent);

        EXPECT_EQ(c.nExit, result.nExit) << result.strFailure;
        EXPECT_FALSE(HasRecord());
        EXPECT_EQ(c.nAgent, nAgentStarts);
        EXPECT_EQ(c.nService == 1 ? static_cast<DWORD>(SERVICE_RUNNING) : static_cast<DWORD>(SERVICE_STOPPED),
                  glimtest::ScmQueryState(kPeerService));
        if (c.nService < 0) {
            EXPECT_TRUE(HasLine(result, L"No record of stopped programs: nothing to start again"));
        }
        ASSERT_EQ(0u, m_service.Stop());
    }
}

TEST(SetupHelperReplaceable, FailsOnAProgramFileInUseOnly)
{
    struct SCase {
        const char* pszName;
        bool bFolder;
        const wchar_t* pszPresent[3];
        const wchar_t* pszHeld;  // held open by the test without share-delete
        DWORD dwHeldShare;
        int nExit;
    };
    const SCase cases[] = {
        {"a missing folder", false, {}, nullptr, 0, kExitDone},
        {"an empty folder", true, {}, nullptr, 0, kExitDone},
        {"every program free", true, {L"Glimward.exe", L"Glimagent.exe", L"glimctl.exe"}, nullptr, 0, kExitDone},
        {"the agent held without share-delete",
         true,
         {L"Glimward.exe", L"Glimagent.exe", L"glimctl.exe"},
         L"Glimagent.exe",
         FILE_SHARE_READ | FILE_SHARE_WRITE,
         kExitFailed},
        {"the console companion held for reading",
         true,
         {L"glimctl.exe"},
         L"glimctl.exe",
         FILE_SHARE_READ,
         kExitFailed},
        {"another file held",
         true,
         {L"Glimward.exe", L"GlimkitSetupHelper.exe"},
         L"GlimkitSetupHelper.exe",
         0,
         kExitDone},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        glimtest::CTempFolder temp;
        const std::wstring strDir = c.bFolder ? temp.Path() : temp.File(L"missing");
        for (const wchar_t* pszName : c.pszPresent) {
            if (pszName) {
                glim::CScopedFile hMade(CreateFileW((strDir + L"\\" + pszName).c_str(), GENERIC_WRITE, 0, nullptr,
                                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
                ASSERT_TRUE(hMade);
            }
        }
        glim::CScopedFile hHeld;
        if (c.pszHeld) {
            hHeld.Reset(CreateFileW((strDir + L"\\" + c.pszHeld).c_str(), GENERIC_READ, c.dwHeldShare, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
            ASSERT_TRUE(hHeld);
        }

        const SVerbResult result = CheckReplaceable(strDir);

        EXPECT_EQ(c.nExit, result.nExit);
        if (c.nExit == kExitFailed) {
            EXPECT_EQ(strDir + L"\\" + c.pszHeld + L" is in use and cannot be replaced.", result.strFailure);
        }
    }
}

}  // namespace
