// The simulated laptop for Glimagent.exe alone: the simulated filter driver loaded once per
// test program and reset for each test, no agent left from before, and the agent's
// diagnostics log switched on into a scratch folder. Everything is observed from outside.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>

#include "AgentProcess.h"
#include "LogTestUtil.h"
#include "SettingsApp.h"
#include "SimDriver.h"
#include "StagedTest.h"

namespace glimtest {

// Runs an agent (a relay) with the whole command line given to its end; a failure when it
// could not start, did not end within dwTimeoutMs or exited with a code other than 0.
::testing::AssertionResult RunAgent(const std::wstring& commandLine, DWORD dwTimeoutMs = 15000,
                                    DWORD* pdwElapsedMs = nullptr);

class CAgentE2eTest : public CStagedTest {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    // Skips the test when the driver could not be installed.
    void SetUpBase() override;
    void TearDown() override { EndStrayAgents(); }

    // Lines of the agent's log with this message (and label).
    size_t LogCount(const std::wstring& message, const std::wstring& function = L"") const
    {
        return glimtest::CountLines(m_logPath, message, function);
    }
    bool WaitForLog(const std::wstring& message, const std::wstring& function, size_t nCount = 1,
                    DWORD dwTimeoutMs = 5000) const;
    // Has the stand-in write the request's keys and signal event_uwp, as the settings
    // application does.
    static void Notify(const CNotifyRequest& request);

    glimtest::CTempFolder m_scratch;
    glimtest::CAgentLogConfig m_logConfig;
    std::wstring m_logPath;
    CMainAgent m_main;

private:
    static std::unique_ptr<glimtest::CSimDriverInstall> s_pDriver;
    static DWORD s_dwInstallError;
};

}  // namespace glimtest
