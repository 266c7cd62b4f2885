#include "InstalledSystemTest.h"

#include "GlimNames.h"
#include "Scm.h"
#include "ServiceHarness.h"
#include "SimDriver.h"
#include "SimSessionProtocol.h"

namespace systemtest {

using agenttest::WaitUntil;

CRelayReaper::~CRelayReaper()
{
    agenttest::EndProcessesOf(glim::kAgentProgramPath);
}

void CInstalledSystemTest::SetUp()
{
    agenttest::EndStrayAgents();
    CGlimwardSystemTest::SetUp();
    if (IsSkipped() || HasFatalFailure())
        return;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              m_agentFile.Install(svctest::BuildBinPath(L"Glimagent.exe"), glim::kAgentProgramPath));
    m_agentLogPath = m_scratch.File(L"Glimagent.log");
    ASSERT_TRUE(m_agentLogConfig.Write(m_agentLogPath, 0, 0));
}

void CInstalledSystemTest::StartSystem(int nStatus, bool bLocked, bool bAgent, DWORD dwNoticeDelayMs)
{
    m_settings.Set(glim::kKeyKBStatus, nStatus);
    m_settings.Set(glim::kKeyKBBrightness, kBrightness);
    m_settings.Set(glim::kKeyCurrentKBBrightness, 3);
    ASSERT_NO_FATAL_FAILURE(SetLocked(bLocked));
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), svctest::InstallAndStartService(kWaitMs));
    ASSERT_TRUE(WaitUntil([] { return !simkb::SetRequests().empty(); }, kWaitMs))
        << "the service did not restore the recorded level";
    if (bAgent)
        StartAgent(nStatus == 2 ? 1 : 2, dwNoticeDelayMs);  // Auto waits for the ambient light
    else
        ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), simkb::ClearHistory());
}

void CInstalledSystemTest::StartPrograms(size_t nStartLevels, DWORD dwNoticeDelayMs)
{
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), svctest::InstallAndStartService(kWaitMs));
    StartAgent(nStartLevels, dwNoticeDelayMs);
}

void CInstalledSystemTest::StartAgent(size_t nStartLevels, DWORD dwNoticeDelayMs)
{
    ASSERT_TRUE(m_main.Start(kWaitMs, glim::kAgentProgramPath)) << "the agent's main instance did not come up";
    ASSERT_TRUE(WaitUntil([&] { return simkb::SetRequests().size() >= nStartLevels; }, kWaitMs))
        << "the start-up levels did not come";
    ASSERT_EQ(0u, m_app.StartWindow(dwNoticeDelayMs));
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), simkb::ClearHistory());
}

void CInstalledSystemTest::RestartMain()
{
    m_main.Process().Terminate();
    agenttest::EndStrayAgents();
    ASSERT_TRUE(m_main.Start(kWaitMs, glim::kAgentProgramPath)) << "the agent's main instance did not come up";
}

void CInstalledSystemTest::RestartService(ULONGLONG* pullStopMs, ULONGLONG* pullStartMs)
{
    ULONGLONG ullStart = GetTickCount64();
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), scm::Stop(glim::kServiceName, kWaitMs));
    ASSERT_TRUE(WaitUntil([] { return !agenttest::EventExists(glim::kEventHotkey); }, kWaitMs))
        << "the hotkey event outlived the service";
    if (pullStopMs)
        *pullStopMs = GetTickCount64() - ullStart;
    ullStart = GetTickCount64();
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), scm::Start(glim::kServiceName, kWaitMs));
    if (pullStartMs)
        *pullStartMs = GetTickCount64() - ullStart;
    ASSERT_TRUE(WaitUntil([] { return agenttest::EventExists(glim::kEventHotkey); }, kWaitMs))
        << "the restarted service does not listen for the hotkey";
}

void CInstalledSystemTest::Press()
{
    ASSERT_EQ(simkb::kStatusSuccess, simkb::Press());
}

void CInstalledSystemTest::PressEvent()
{
    ASSERT_TRUE(agenttest::SignalExistingEvent(glim::kEventHotkey)) << "the service's hotkey event is gone";
}

void CInstalledSystemTest::SetLocked(bool bLocked)
{
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              m_session.SetFlags(bLocked ? simsession::kFlagsLocked : simsession::kFlagsUnlocked));
}

bool CInstalledSystemTest::WaitForStatus(int nStatus, DWORD dwTimeoutMs) const
{
    return WaitUntil([&] { return Status() == nStatus; }, dwTimeoutMs);
}

bool CInstalledSystemTest::WaitForAgentLog(const std::wstring& message, const std::wstring& function, size_t nCount) const
{
    return WaitUntil([&] { return AgentLogCount(message, function) >= nCount; }, kWaitMs);
}

size_t CInstalledSystemTest::RelaysRunning()
{
    size_t n = 0;
    for (DWORD dwPid : agenttest::ProcessesOf(glim::kAgentProgramPath))
        n += dwPid != m_main.Process().Pid() ? 1 : 0;
    return n;
}

bool CInstalledSystemTest::ServiceRuns() const
{
    return scm::QueryState(glim::kServiceName) == SERVICE_RUNNING;
}

bool CInstalledSystemTest::Watch(SWatched* pService, SWatched* pMain)
{
    const std::vector<DWORD> services = procstatus::LinuxPidsOf(svctest::InstalledServicePath());
    const std::vector<DWORD> mains = procstatus::LinuxPidsOf(glim::kAgentProgramPath);
    if (services.size() != 1 || mains.size() != 1)
        return false;
    *pService = {L"Glimward", svctest::ServiceProcessId(glim::kServiceName), services[0]};
    *pMain = {L"Glimagent main instance", m_main.Process().Pid(), mains[0]};
    return true;
}

}  // namespace systemtest
