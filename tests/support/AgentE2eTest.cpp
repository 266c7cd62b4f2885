#include "AgentE2eTest.h"

namespace glimtest {

std::unique_ptr<glimtest::CSimDriverInstall> CAgentE2eTest::s_pDriver;
DWORD CAgentE2eTest::s_dwInstallError = 0;

::testing::AssertionResult RunAgent(const std::wstring& commandLine, DWORD dwTimeoutMs, DWORD* pdwElapsedMs)
{
    CAgentProcess relay;
    const ULONGLONG ullStart = GetTickCount64();
    if (const DWORD dwErr = relay.Start(commandLine))
        return ::testing::AssertionFailure() << "CreateProcessW failed, error " << dwErr;
    DWORD dwCode = 0xdeadbeef;
    if (!relay.WaitExit(dwTimeoutMs, &dwCode))
        return ::testing::AssertionFailure()
            << "the agent started with \"" << std::string(commandLine.begin(), commandLine.end())
            << "\" did not end within " << dwTimeoutMs << " ms";
    if (pdwElapsedMs)
        *pdwElapsedMs = static_cast<DWORD>(GetTickCount64() - ullStart);
    if (dwCode != 0)
        return ::testing::AssertionFailure() << "exit code " << dwCode;
    return ::testing::AssertionSuccess();
}

void CAgentE2eTest::SetUpTestSuite()
{
    s_pDriver = std::make_unique<glimtest::CSimDriverInstall>();
    s_dwInstallError = s_pDriver->Install();
}

void CAgentE2eTest::TearDownTestSuite()
{
    s_pDriver.reset();
}

void CAgentE2eTest::SetUpBase()
{
    // A broken environment fails the test with its error: a skip would read as a pass.
    ASSERT_EQ(0u, s_dwInstallError) << "CAgentE2eTest: the simulated filter driver could not be installed";
    EndStrayAgents();
    ASSERT_EQ(0u, glimtest::Reset());
    m_logPath = m_scratch.File(L"Glimagent.log");
    ASSERT_TRUE(m_logConfig.Write(m_logPath, 0, 0));
}

bool CAgentE2eTest::WaitForLog(const std::wstring& message, const std::wstring& function, size_t nCount,
                               DWORD dwTimeoutMs) const
{
    return WaitUntil([&] { return LogCount(message, function) >= nCount; }, dwTimeoutMs);
}

void CAgentE2eTest::Notify(const CNotifyRequest& request)
{
    DWORD dwCode = 0xdeadbeef;
    ASSERT_EQ(0u, CSettingsApp::RunNotify(request, &dwCode));
    ASSERT_EQ(0u, dwCode) << "the stand-in could not signal event_uwp";
}

}  // namespace glimtest
