#include "InstalledSystemTest.h"

#include "GlimNames.h"
#include "Scm.h"
#include "ServiceHarness.h"
#include "SimDriver.h"
#include "SimSessionProtocol.h"

namespace glimtest {

using glimtest::WaitUntil;

CRelayReaper::~CRelayReaper()
{
    glimtest::EndProcessesOf(glim::kAgentProgramPath);
}

void CInstalledSystemTest::SetUpBase()
{
    glimtest::EndStrayAgents();
    CGlimwardSystemTest::SetUpBase();
    if (!Proceeds())
        return;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              m_agentFile.Install(glimtest::BuildBinPath(L"Glimagent.exe"), glim::kAgentProgramPath));
    m_agentLogPath = m_scratch.File(L"Glimagent.log");
    ASSERT_TRUE(m_agentLogConfig.Write(m_agentLogPath, 0, 0));
}

void CInstalledSystemTest::StartSystem(int nStatus, bool bLocked, bool bAgent, DWORD dwNoticeDelayMs)
{
    m_settings.Set(glim::kKeyKBStatus, nStatus);
    m_settings.Set(glim::kKeyKBBrightness, kBrightness);
    m_settings.Set(glim::kKeyCurrentKBBrightness, 3);
    ASSERT_NO_FATAL_FAILURE(SetLocked(bLocked));
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), glimtest::InstallAndStartService(kWaitMs));
    ASSERT_TRUE(WaitUntil([] { return !glimtest::SetRequests().empty(); }, kWaitMs))
        << "the service did not restore the recorded level";
    if (bAgent)
        StartAgent(nStatus == 2 ? 1 : 2, dwNoticeDelayMs);  // Auto waits for the ambient light
    else
        ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), glimtest::ClearHistory());
}

void CInstalledSystemTest::StartPrograms(size_t nStartLevels, DWORD dwNoticeDelayMs)
{
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), glimtest::InstallAndStartService(kWaitMs));
    StartAgent(nStartLevels, dwNoticeDelayMs);
}

void CInstalledSystemTest::StartAgent(size_t nStartLevels, DWORD dwNoticeDelayMs)
{
    ASSERT_TRUE(m_main.Start(kWaitMs, glim::kAgentProgramPath)) << "the agent's main instance did not come up";
    ASSERT_TRUE(WaitUntil([&] { return glimtest::SetRequests().size() >= nStartLevels; }, kWaitMs))
        << "the start-up levels did not come";
    ASSERT_EQ(0u, m_app.StartWindow(dwNoticeDelayMs));
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), glimtest::ClearHistory());
}

void CInstalledSystemTest::RestartMain()
{
    m_main.Process().Terminate();
    glimtest::EndStrayAgents();
    ASSERT_TRUE(m_main.Start(kWaitMs, glim::kAgentProgramPath)) << "the agent's main instance did not come up";
}

void CInstalledSystemTest::RestartService(ULONGLONG* pullStopMs, ULONGLONG* pullStartMs)
{
    ULONGLONG ullStart = GetTickCount64();
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), glimtest::ScmStop(glim::kServiceName, kWaitMs));
    ASSERT_TRUE(WaitUntil([] { return !glimtest::EventExists(glim::kEventHotkey); }, kWaitMs))
        << "the hotkey event outlived the service";
    if (pullStopMs)
        *pullStopMs = GetTickCount64() - ullStart;
    ullStart = GetTickCount64();
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), glimtest::ScmStart(glim::kServiceName, kWaitMs));
    if (pullStartMs)
        *pullStartMs = GetTickCount64() - ullStart;
    ASSERT_TRUE(WaitUntil([] { return glimtest::EventExists(glim::kEventHotkey); }, kWaitMs))
        << "the restarted service does not listen for the hotkey";
}

void CInstalledSystemTest::Press()
{
    ASSERT_EQ(glimtest::kStatusSuccess, glimtest::Press());
}

void CInstalledSystemTest::PressEvent()
{
    ASSERT_TRUE(glimtest::SignalExistingEvent(glim::kEventHotkey)) << "the service's hotkey event is gone";
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

bool CInstalledSystemTest::WaitForAgentLog(const std::wstring& message, const std::wstring& function,
                                           size_t nCount) const
{
    return WaitUntil([&] { return AgentLogCount(message, function) >= nCount; }, kWaitMs);
}

size_t CInstalledSystemTest::RelaysRunning()
{
    size_t n = 0;
    for (DWORD dwPid : glimtest::ProcessesOf(glim::kAgentProgramPath))
        n += dwPid != m_main.Process().Pid() ? 1 : 0;
    return n;
}

bool CInstalledSystemTest::ServiceRuns() const
{
    return glimtest::ScmQueryState(glim::kServiceName) == SERVICE_RUNNING;
}

bool CInstalledSystemTest::Watch(SWatched* pService, SWatched* pMain)
{
    const std::vector<DWORD> services = glimtest::LinuxPidsOf(glimtest::InstalledServicePath());
    const std::vector<DWORD> mains = glimtest::LinuxPidsOf(glim::kAgentProgramPath);
    if (services.size() != 1 || mains.size() != 1)
        return false;
    *pService = {glim::kServiceName, glimtest::ServiceProcessId(glim::kServiceName), services[0]};
    *pMain = {L"Glimagent main instance", m_main.Process().Pid(), mains[0]};
    return true;
}

}  // namespace glimtest
