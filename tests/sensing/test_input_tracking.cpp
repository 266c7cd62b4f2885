// CInputTracking in-process: InActiveTime read from a UTF-16 settings file, the 1-second
// thread timer and the verdicts it hands to the handler, activity noted by the agent
// (relayed presses) and by real input (SendInput), and stopping.
#include <gtest/gtest.h>

#include <windows.h>

#include <mutex>
#include <vector>

#include "Absence.h"
#include "GlimNames.h"
#include "InputTracking.h"
#include "SensingTestEnv.h"
#include "SettingsFileTools.h"

using namespace glim;
using namespace glimtest;

namespace {

std::mutex g_mutex;
std::vector<bool> g_verdicts;

void RecordVerdict(bool bInActive)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_verdicts.push_back(bInActive);
}

std::vector<bool> Verdicts()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_verdicts;
}

void ClearVerdicts()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_verdicts.clear();
}

bool LastVerdictIs(bool bInActive)
{
    const std::vector<bool> all = Verdicts();
    return !all.empty() && all.back() == bInActive;
}

// A thread timer of the test with the tracking's own period, counting its calls: a tracking
// timer made before it fires before it in each period, so its count is the sentinel that
// the tracking's moments have passed.
class CSentinelTimer {
public:
    CSentinelTimer()
    {
        s_nFired = 0;
        m_nTimer = SetTimer(nullptr, 0, 1000, &CSentinelTimer::Proc);
    }
    virtual ~CSentinelTimer() { KillTimer(nullptr, m_nTimer); }
    CSentinelTimer(const CSentinelTimer&) = delete;
    CSentinelTimer& operator=(const CSentinelTimer&) = delete;
    static bool Fired(int n) { return s_nFired >= n; }

private:
    static void CALLBACK Proc(HWND, UINT, UINT_PTR, DWORD) { ++s_nFired; }
    static int s_nFired;
    UINT_PTR m_nTimer;
};
int CSentinelTimer::s_nFired = 0;

const std::wstring kMinute = L"\x5206";
const std::wstring kSecond = L"\x79D2";

}  // namespace

class InputTracking : public ::testing::Test {
protected:
    static void SetUpTestSuite() { UsePrivateSettings(); }

    void SetUp() override
    {
        ASSERT_EQ(0u, glimtest::CreateUnicodeFile()) << "values with the unit characters need a UTF-16 file";
        m_pTracking = CInputTracking::GetInstance();
        g_pfnInActiveHandler = RecordVerdict;
        ClearVerdicts();
    }

    void TearDown() override
    {
        m_pTracking->StopTracking();
        g_pfnInActiveHandler = nullptr;
    }

    void Start(const std::wstring& strValue)
    {
        WriteKey(kKeyInActiveTime, strValue.c_str());
        m_pTracking->StartTracking();
    }

    CInputTracking* m_pTracking = nullptr;
};

TEST_F(InputTracking, SettingIsParsedFromTheUnicodeFile)
{
    Start(L"2" + kSecond);
    EXPECT_EQ(2, g_nInActiveSeconds);
    EXPECT_TRUE(m_pTracking->IsTracking());
    Start(L"5" + kMinute);
    EXPECT_EQ(300, g_nInActiveSeconds);
    Start(L"1" + kMinute + L"30" + kSecond);
    EXPECT_EQ(60, g_nInActiveSeconds);
    Start(L" 5" + kMinute);
    EXPECT_EQ(300, g_nInActiveSeconds);
}

TEST_F(InputTracking, OtherValuesLeaveTrackingOff)
{
    for (const std::wstring& strValue : {std::wstring(L"\x306A\x3057"), std::wstring(L""), std::wstring(L"30"), kSecond,
                                         std::wstring(L"0") + kSecond, std::wstring(L"-5") + kMinute}) {
        Start(L"5" + kMinute);
        ASSERT_TRUE(m_pTracking->IsTracking());
        Start(strValue);
        EXPECT_FALSE(m_pTracking->IsTracking()) << "value of " << strValue.size() << " characters";
        EXPECT_GE(0, g_nInActiveSeconds);
    }
}

TEST_F(InputTracking, IdleBeyondTheThresholdThenNotedActivity)
{
    Start(L"3" + kSecond);
    // Whatever the last input was, three seconds without any makes the user idle.
    ASSERT_TRUE(WaitUntil([] { return LastVerdictIs(true); }, 8000));
    // A relayed hotkey press counts as activity at the next tick.
    CInputTracking::UpdateLastActiveTime();
    ClearVerdicts();
    ASSERT_TRUE(WaitUntil([] { return !Verdicts().empty(); }, 3000));
    EXPECT_FALSE(Verdicts().front()) << "input within 1500 ms gives the active verdict";
    // And idle again once the threshold has passed since that moment.
    ASSERT_TRUE(WaitUntil([] { return LastVerdictIs(true); }, 6000));
}

TEST_F(InputTracking, RealInputCountsAsActivity)
{
    Start(L"3" + kSecond);
    ASSERT_TRUE(WaitUntil([] { return LastVerdictIs(true); }, 8000));
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = MOUSEEVENTF_MOVE;
    SetLastError(0xdeadbeef);
    ASSERT_EQ(1u, SendInput(1, &input, sizeof(input))) << "SendInput failed here, error " << GetLastError();
    ClearVerdicts();
    ASSERT_TRUE(WaitUntil([] { return !Verdicts().empty(); }, 3000));
    EXPECT_FALSE(Verdicts().front());
}

TEST_F(InputTracking, NoVerdictWhileStoppedAndOneTimerAfterRestarts)
{
    Start(L"1" + kSecond);
    m_pTracking->StopTracking();
    EXPECT_FALSE(m_pTracking->IsTracking());
    {
        CSentinelTimer sentinel;
        EXPECT_TRUE(NothingUntil([] { return !Verdicts().empty(); }, [] { return CSentinelTimer::Fired(2); },
                                 "two periods of the test's own timer", 5000));
    }

    Start(L"1" + kSecond);
    m_pTracking->StartTracking();
    m_pTracking->StartTracking();
    CSentinelTimer sentinel;
    ASSERT_TRUE(WaitUntil([] { return CSentinelTimer::Fired(3); }, 8000));
    const size_t nCalls = Verdicts().size();
    EXPECT_GE(nCalls, 2u);
    EXPECT_LE(nCalls, 4u) << "restarting must not leave several timers running";
}
