// The automatic rules through Glimagent.exe as shipped: the simulated ambient light sensor
// (registered in the prefix, loaded by the agent through CoCreateInstance) drives the
// level in Auto by bands after the settling time, and the user's idleness switches the
// light off and real input brings it back. Observed only from outside: the simulated
// filter driver's request history and the agent's log.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "AgentProcess.h"
#include "DeviceProtocol.h"
#include "GlimNames.h"
#include "LogTestUtil.h"
#include "SettingsFileTools.h"
#include "SimComServer.h"
#include "SimDriver.h"
#include "SimPower.h"
#include "SimSensorDriver.h"

using namespace agenttest;
using namespace glim;

namespace {

// CLSID_SensorManager and CLSID_PortableDeviceValues.
const CLSID kClsidSensorManager = {0x77a1c827, 0xfcd2, 0x4689, {0x89, 0x15, 0x9d, 0x61, 0x3c, 0xc5, 0xfa, 0x3e}};
const CLSID kClsidPortableDeviceValues = {0x0c15d503, 0xd017, 0x47ce, {0x90, 0x16, 0x7b, 0x3f, 0x97, 0x87, 0x21, 0xcc}};

std::unique_ptr<simkb::CSimDriverInstall> g_pDriver;
DWORD g_dwInstallError = 0;

// The stand-in powrprof.dll beside Glimagent.exe for one test, and Wine told to load it
// for that program only.
class CPowrProfBesideAgent {
public:
    CPowrProfBesideAgent()
        : m_strTarget(simtest::BesideProgram(simpower::kDllName))
        , m_override(L"Glimagent.exe", simpower::kModuleName)
    {
        m_bCopied = CopyFileW(simtest::BesideProgram(L"simpower\\powrprof.dll").c_str(), m_strTarget.c_str(), FALSE) != 0;
    }
    virtual ~CPowrProfBesideAgent() { DeleteFileW(m_strTarget.c_str()); }
    bool Ok() const { return m_bCopied && m_override.Ok(); }

private:
    std::wstring m_strTarget;
    simtest::CDllOverride m_override;
    bool m_bCopied = false;
};

std::vector<long> SetLevels()
{
    std::vector<long> levels;
    simkb::SHistory history;
    if (!simkb::History(&history))
        return levels;
    for (const auto& record : history.records) {
        if (record.ulCode == static_cast<unsigned long>(IOCTL_KBBL_SET_BRIGHTNESS))
            levels.push_back(record.lLevel);
    }
    return levels;
}

std::string Levels(const std::vector<long>& levels)
{
    std::string text;
    for (long l : levels)
        text += std::to_string(l) + " ";
    return text;
}

class PoliciesE2eTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        g_pDriver = std::make_unique<simkb::CSimDriverInstall>();
        g_dwInstallError = g_pDriver->Install();
    }
    static void TearDownTestSuite() { g_pDriver.reset(); }

    void SetUp() override
    {
        if (g_dwInstallError != 0)
            GTEST_SKIP() << "the simulated filter driver could not be installed, error " << g_dwInstallError;
        ASSERT_TRUE(m_managerReg.Ok());
        ASSERT_TRUE(m_valuesReg.Ok());
        ASSERT_TRUE(m_sensors.Ok());
        EndStrayAgents();
        ResetSettings();
        // InActiveTime carries a non-ANSI unit: the file must be UTF-16.
        ASSERT_EQ(0u, settingsfile::CreateUnicodeFile());
        ASSERT_EQ(0u, simkb::Reset());
        m_logPath = m_scratch.File(L"Glimagent.log");
        ASSERT_TRUE(m_logConfig.Write(m_logPath, 0, 0));
    }
    void TearDown() override { EndStrayAgents(); }

    size_t LogCount(const std::wstring& message)
    {
        size_t n = 0;
        for (const std::wstring& text : logtest::ReadLines(m_logPath)) {
            logtest::ParsedLine line;
            if (logtest::ParseLine(text, &line) && line.message == message)
                ++n;
        }
        return n;
    }

    ::testing::AssertionResult LevelsBecome(const std::vector<long>& expected, DWORD dwTimeoutMs = 5000)
    {
        WaitUntil([&] { return SetLevels().size() >= expected.size(); }, dwTimeoutMs);
        WaitUntil([] { return false; }, 300);
        const std::vector<long> actual = SetLevels();
        if (actual == expected)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "set requests: " << Levels(actual);
    }

    simtest::CSimComRegistration m_managerReg{kClsidSensorManager, simsensor::kDllName};
    simtest::CSimComRegistration m_valuesReg{kClsidPortableDeviceValues, simsensor::kDllName};
    simtest::CSimSensorDriver m_sensors;
    logtest::CScratchDir m_scratch;
    logtest::CAgentLogConfig m_logConfig;
    std::wstring m_logPath;
    CMainAgent m_main;
};

}  // namespace

TEST_F(PoliciesE2eTest, AmbientBandsSetTheLevelInAutoAfterSettling)
{
    WriteSetting(kKeyKBStatus, L"2");
    WriteSetting(kKeyKBBrightness, L"7");
    m_sensors.Describe(0, 2.0f);
    ASSERT_TRUE(m_main.Start());
    ASSERT_TRUE(WaitUntil([this] { return m_sensors.SlotState(0).bSinkSet != 0; }, 5000))
        << "the agent did not attach the simulated sensor";
    EXPECT_EQ(500u, m_sensors.SlotState(0).ulInterval) << "AmbientStautsChangeTime's default";
    EXPECT_TRUE(SetLevels().empty()) << "Auto sets nothing before the first reading";

    EXPECT_EQ(S_OK, m_sensors.Report(0, 2.0f));  // darkness: the user's level
    EXPECT_TRUE(LevelsBecome({7}));
    EXPECT_EQ(S_OK, m_sensors.Report(0, 30.0f));  // dim indoors: 10
    EXPECT_TRUE(LevelsBecome({7, 10}));
    EXPECT_EQ(S_OK, m_sensors.Report(0, 900.0f));  // bright: 0
    EXPECT_TRUE(LevelsBecome({7, 10, 0}));
    EXPECT_EQ(1u, LogCount(L"enter Darkness "));
    EXPECT_EQ(1u, LogCount(L"enter DimIndoors"));
    EXPECT_EQ(1u, LogCount(L"enter bright"));

    // Three changes of band within the settling time: one level, for the last band.
    ASSERT_EQ(0u, simkb::ClearHistory());
    m_sensors.Report(0, 30.0f);
    m_sensors.Report(0, 900.0f);
    m_sensors.Report(0, 30.0f);
    EXPECT_TRUE(LevelsBecome({10}));
    EXPECT_GE(LogCount(L"lux timer exist"), 2u);
    // The same band again changes nothing.
    m_sensors.Report(0, 40.0f);
    EXPECT_TRUE(LevelsBecome({10}, 1000));

    // The sensor leaving gives 0 lux: darkness.
    EXPECT_EQ(S_OK, m_sensors.Leave(0));
    EXPECT_TRUE(LevelsBecome({10, 7}));
    ASSERT_TRUE(m_main.Exit());
}

TEST_F(PoliciesE2eTest, IdleSwitchesOffAndInputBringsTheLightBack)
{
    WriteSetting(kKeyKBStatus, L"1");
    WriteSetting(kKeyKBBrightness, L"7");
    WriteSetting(kKeyInActiveTime, L"2\x79D2");
    ASSERT_TRUE(m_main.Start());
    EXPECT_TRUE(LevelsBecome({7}));
    // No input for two seconds: off.
    EXPECT_TRUE(LevelsBecome({7, 0}, 8000));
    EXPECT_EQ(1u, LogCount(L"InActive"));
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = MOUSEEVENTF_MOVE;
    ASSERT_EQ(1u, SendInput(1, &input, sizeof(input)));
    EXPECT_TRUE(LevelsBecome({7, 0, 7}));
    EXPECT_EQ(1u, LogCount(L"active-- not full"));
    ASSERT_TRUE(m_main.Exit());
}

TEST_F(PoliciesE2eTest, FullScreenVideoSwitchesOffAfterFiveSecondsAndBackWhenItEnds)
{
    CPowrProfBesideAgent powrprof;
    ASSERT_TRUE(powrprof.Ok());
    simtest::CSimExecutionState state(ES_DISPLAY_REQUIRED | ES_USER_PRESENT);
    ASSERT_TRUE(state.Ok());
    WriteSetting(kKeyKBStatus, L"1");
    WriteSetting(kKeyKBBrightness, L"7");
    WriteSetting(kKeyFullScreen5sClose, L"1");
    WriteSetting(kKeyFullScreenScope, L" - Movies & TV");
    ASSERT_TRUE(m_main.Start());
    EXPECT_TRUE(LevelsBecome({7}));

    HMONITOR hPrimary = MonitorFromWindow(nullptr, MONITOR_DEFAULTTOPRIMARY);
    MONITORINFO info = {};
    info.cbSize = sizeof(info);
    ASSERT_TRUE(GetMonitorInfoW(hPrimary, &info));
    const RECT& rc = info.rcMonitor;
    HWND hVideo = CreateWindowExW(WS_EX_TOPMOST, L"STATIC", L"Clip - Movies & TV", WS_POPUP | WS_VISIBLE, rc.left, rc.top,
                                  rc.right - rc.left, rc.bottom - rc.top, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, hVideo);
    SetForegroundWindow(hVideo);
    if (GetForegroundWindow() != hVideo) {
        DestroyWindow(hVideo);
        GTEST_SKIP() << "this display does not let the test's window into the foreground";
    }
    // Seen within one 2-second check, switched off 5 seconds later.
    EXPECT_TRUE(WaitUntil([this] { return LogCount(L"enter full") == 1; }, 5000))
        << "checks " << LogCount(L"IsVedioPlayFullScreen") << ", display " << LogCount(L"ES_DISPLAY_REQUIRED") << ", scope "
        << LogCount(L"WindowInScope") << ", primary " << LogCount(L"WindowInPrimaryScreen") << ", covering "
        << LogCount(L"IsForegroundWindowFullScreen");
    EXPECT_TRUE(LevelsBecome({7}, 3000)) << "not before the 5 seconds";
    EXPECT_TRUE(LevelsBecome({7, 0}, 6000));
    EXPECT_EQ(1u, LogCount(L"timer_enterfullproc"));
    // The video ends: the user's level again.
    DestroyWindow(hVideo);
    EXPECT_TRUE(LevelsBecome({7, 0, 7}, 6000));
    EXPECT_EQ(1u, LogCount(L"exit full"));
    ASSERT_TRUE(m_main.Exit());
}
