// The levels Glimagent.exe gives the simulated filter driver: at start-up for each stored
// status, on the relayed status cycle, and on the settings application's notices.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <vector>

#include "AgentProcess.h"
#include "DeviceProtocol.h"
#include "GlimNames.h"
#include "SimDriver.h"

using namespace agenttest;
using namespace glim;

namespace {

std::unique_ptr<simkb::CSimDriverInstall> g_pDriver;
DWORD g_dwInstallError = 0;

// The levels of the set requests the driver answered, oldest first.
std::vector<long> SetLevels()
{
    simkb::SHistory history;
    std::vector<long> levels;
    if (!simkb::History(&history))
        return levels;
    for (const auto& record : history.records) {
        if (record.ulCode == static_cast<unsigned long>(IOCTL_KBBL_SET_BRIGHTNESS))
            levels.push_back(record.lLevel);
    }
    return levels;
}

bool RelayStatusChange()
{
    CAgentProcess relay;
    DWORD dwCode = 1;
    return relay.Start(L"cmd_service-3-statuschange") == 0 && relay.WaitExit(10000, &dwCode) && dwCode == 0;
}

void Notice(const wchar_t* pszKind, const wchar_t* pszArgument)
{
    WriteSetting(kKeyUwpwParam, pszKind);
    WriteSetting(kKeyUwplParam, pszArgument);
    ASSERT_TRUE(SignalExistingEvent(kEventUwp));
}

class AgentLevelTest : public ::testing::Test {
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
        EndStrayAgents();
        ResetSettings();
        ASSERT_EQ(0u, simkb::Reset());
    }
    void TearDown() override { EndStrayAgents(); }

    void StartMain(CMainAgent& main)
    {
        ASSERT_TRUE(main.Start()) << "the main instance did not come up";
    }

    // Waits until the set requests are exactly `expected`, then checks that no further
    // request follows within a short while.
    static ::testing::AssertionResult SetsAre(const std::vector<long>& expected, DWORD dwTimeoutMs = 5000)
    {
        WaitUntil([&] { return SetLevels().size() >= expected.size(); }, dwTimeoutMs);
        WaitUntil([] { return false; }, 300);
        const std::vector<long> actual = SetLevels();
        if (actual == expected)
            return ::testing::AssertionSuccess();
        auto failure = ::testing::AssertionFailure() << "set requests:";
        for (long l : actual)
            failure << " " << l;
        failure << "; wanted:";
        for (long l : expected)
            failure << " " << l;
        return failure;
    }
};

}  // namespace

TEST_F(AgentLevelTest, StartupPutsTheBacklightIntoTheStoredStatus)
{
    struct Case {
        const wchar_t* pszStatus;
        const wchar_t* pszBrightness;  // nullptr: key absent
        std::vector<long> expected;
    };
    const Case cases[] = {
        {L"1", L"7", {7}},
        {L"1", nullptr, {10}},
        {L"0", L"7", {0}},
        {L"2", L"7", {}},  // Auto waits for the ambient light
        {L"7", L"7", {0}},  // unknown status: dark
        {nullptr, nullptr, {0}},  // no settings at all: Off
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "KBStatus " << (c.pszStatus ? c.pszStatus : L"absent"));
        ResetSettings();
        if (c.pszStatus)
            WriteSetting(kKeyKBStatus, c.pszStatus);
        if (c.pszBrightness)
            WriteSetting(kKeyKBBrightness, c.pszBrightness);
        ASSERT_EQ(0u, simkb::ClearHistory());
        CMainAgent main;
        StartMain(main);
        EXPECT_TRUE(SetsAre(c.expected));
        if (!c.expected.empty()) {
            EXPECT_EQ(static_cast<DWORD>(c.expected.back()), ReadSetting(kKeyCurrentKBBrightness, 99));
        }
        ASSERT_TRUE(main.Exit());
    }
}

TEST_F(AgentLevelTest, RelayedCycleSetsTheLevelOfEachStatus)
{
    ResetSettings({{kKeyKBStatus, L"0"}, {kKeyKBBrightness, L"6"}});
    CMainAgent main;
    StartMain(main);
    ASSERT_TRUE(SetsAre({0}));

    ASSERT_TRUE(RelayStatusChange());  // Off -> On: the user's level
    EXPECT_TRUE(WaitUntil([] { return ReadSetting(kKeyKBStatus, 99) == 1; }, 5000));
    EXPECT_TRUE(SetsAre({0, 6}));
    ASSERT_TRUE(RelayStatusChange());  // On -> Auto: nothing until lux arrives
    EXPECT_TRUE(WaitUntil([] { return ReadSetting(kKeyKBStatus, 99) == 2; }, 5000));
    EXPECT_TRUE(SetsAre({0, 6}));
    ASSERT_TRUE(RelayStatusChange());  // Auto -> Off: dark
    EXPECT_TRUE(WaitUntil([] { return ReadSetting(kKeyKBStatus, 99) == 0; }, 5000));
    EXPECT_TRUE(SetsAre({0, 6, 0}));
    EXPECT_EQ(0u, ReadSetting(kKeyCurrentKBBrightness, 99));
}

TEST_F(AgentLevelTest, BrightnessNoticeAppliesInOnPreviewsInAutoIgnoredInOff)
{
    ResetSettings({{kKeyKBStatus, L"1"}, {kKeyKBBrightness, L"6"}});
    CMainAgent main;
    StartMain(main);
    ASSERT_TRUE(SetsAre({6}));

    WriteSetting(kKeyKBBrightness, L"4");
    Notice(L"1", L"5");  // in On the argument does not matter
    EXPECT_TRUE(SetsAre({6, 4}));

    WriteSetting(kKeyKBStatus, L"2");
    WriteSetting(kKeyKBBrightness, L"8");
    Notice(L"1", L"1");  // Auto with a non-zero argument: nothing
    EXPECT_TRUE(SetsAre({6, 4}));
    Notice(L"1", L"0");  // Auto with 0: the new level is previewed
    EXPECT_TRUE(SetsAre({6, 4, 8}));

    WriteSetting(kKeyKBStatus, L"0");
    WriteSetting(kKeyKBBrightness, L"3");
    Notice(L"1", L"0");
    EXPECT_TRUE(SetsAre({6, 4, 8}));

    // Idle time and full-screen rule changes send no level.
    Notice(L"2", L"0");
    Notice(L"3", L"0");
    EXPECT_TRUE(SetsAre({6, 4, 8}));
}

TEST_F(AgentLevelTest, StatusNoticeAppliesTheStoredStatusAtOnce)
{
    ResetSettings({{kKeyKBStatus, L"0"}, {kKeyKBBrightness, L"9"}});
    CMainAgent main;
    StartMain(main);
    ASSERT_TRUE(SetsAre({0}));

    WriteSetting(kKeyKBStatus, L"1");
    Notice(L"0", L"0");
    EXPECT_TRUE(SetsAre({0, 9}));
    WriteSetting(kKeyKBStatus, L"2");
    Notice(L"0", L"0");
    EXPECT_TRUE(SetsAre({0, 9}));
    WriteSetting(kKeyKBStatus, L"0");
    Notice(L"0", L"0");
    EXPECT_TRUE(SetsAre({0, 9, 0}));
    EXPECT_EQ(0u, ReadSetting(kKeyKBStatus, 99));
}
