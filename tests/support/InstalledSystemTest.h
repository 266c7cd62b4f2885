// The simulated laptop with both programs installed: the whole-system base (driver, installed
// service program, session stand-in, service log) plus the installed agent with its own
// diagnostics log, its main instance and the settings-application stand-in. Presses come
// from the simulated driver, or straight through the hotkey event while the driver is gone;
// everything is observed from outside, and the service's relays are ended on every path.
#pragma once

#include <windows.h>

#include <string>

#include "AgentProcess.h"
#include "GlimwardSystemTest.h"
#include "LogTestUtil.h"
#include "SettingsApp.h"
#include "WineProcStatus.h"

namespace glimtest {

constexpr DWORD kWaitMs = 15000;
constexpr int kBrightness = 6;

// Ends the relays the service started from the installed agent, on every path.
class CRelayReaper {
public:
    CRelayReaper() = default;
    virtual ~CRelayReaper();
    CRelayReaper(const CRelayReaper&) = delete;
    CRelayReaper& operator=(const CRelayReaper&) = delete;
};

// One named process's usage with the pids it was read through.
struct SWatched {
    const wchar_t* pszWhat;
    DWORD dwWindowsPid;
    DWORD dwLinuxPid;
};

class CInstalledSystemTest : public CGlimwardSystemTest {
protected:
    void SetUpBase() override;

    // Settings, lock state, the service and its restore of the level, then (bAgent) the main
    // instance and the stand-in, which holds each notice for dwNoticeDelayMs. Returns with an
    // empty driver history once the start-up levels are in.
    void StartSystem(int nStatus, bool bLocked, bool bAgent = true, DWORD dwNoticeDelayMs = 0);
    // The programs alone, on whatever settings there are: the service, the main instance
    // and the stand-in; waits for nStartLevels set requests (the service's restore and the
    // agent's level), then empties the driver history.
    void StartPrograms(size_t nStartLevels, DWORD dwNoticeDelayMs = 0);
    // The main instance and the stand-in on a running service (the part the two share).
    void StartAgent(size_t nStartLevels, DWORD dwNoticeDelayMs);
    // A fresh main instance in place of the running one (it reads its log configuration anew).
    void RestartMain();
    // Stops and starts the service; the times each took, in ms.
    void RestartService(ULONGLONG* pullStopMs = nullptr, ULONGLONG* pullStartMs = nullptr);

    // A press through the simulated driver.
    static void Press();
    // A press as the driver signals it, for when the driver is gone.
    static void PressEvent();
    void SetLocked(bool bLocked);

    int Status() const { return m_settings.Get(glim::kKeyKBStatus); }
    bool WaitForStatus(int nStatus, DWORD dwTimeoutMs = kWaitMs) const;
    // Accepted presses so far, by the service's own log.
    int Accepted() const { return m_log.CountMessage(L"f12 span meets"); }
    size_t AgentLogCount(const std::wstring& message, const std::wstring& function = L"") const
    {
        return glimtest::CountLines(m_agentLogPath, message, function);
    }
    bool WaitForAgentLog(const std::wstring& message, const std::wstring& function, size_t nCount) const;
    DWORD MainPid() { return m_main.Process().Pid(); }
    // Agent processes other than the main instance (the relays still running).
    size_t RelaysRunning();
    bool ServiceRuns() const;

    // The service and the main instance, for watching their usage.
    bool Watch(SWatched* pService, SWatched* pMain);

    // Destroyed in reverse order after the base's TearDown has removed the service: the
    // main instance ends first, then the stand-in, the service's relays and the files.
    glimtest::CTempFolder m_scratch;
    glimtest::CAgentLogConfig m_agentLogConfig;
    std::wstring m_agentLogPath;
    glimtest::CInstalledFile m_agentFile;
    CRelayReaper m_relays;
    CSettingsApp m_app;
    glimtest::CMainAgent m_main;
};

}  // namespace glimtest
