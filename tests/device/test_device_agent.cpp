// The agent's CKBBackLight against the simulated filter driver, loaded through the service
// control manager: what reaches the device, how failures are judged, and what the agent
// records in the settings file and the log.
#include <gtest/gtest.h>

#include "DeviceFixture.h"
#include "GlimNames.h"
#include "KBBackLight.h"
#include "SettingsFile.h"
#include "TestLog.h"

using namespace glimtest;

namespace {

constexpr DWORD kSetCode = static_cast<DWORD>(IOCTL_KBBL_SET_BRIGHTNESS);
constexpr DWORD kGetCode = static_cast<DWORD>(IOCTL_KBBL_GET_BRIGHTNESS);
constexpr const wchar_t* kGetLabel = L"CKBBackLight::GetKBBackLightBrightness";
constexpr const wchar_t* kRecoveryLabel = L"CKBBackLight::RecoverySlValueBrightness";

CKBBackLight* KB()
{
    return CKBBackLight::GetInstance();
}

bool LoggedWithPrefix(const std::wstring& prefix)
{
    for (const glimtest::Line& line : glimtest::Lines()) {
        if (line.message.compare(0, prefix.size(), prefix) == 0)
            return true;
    }
    return false;
}

class AgentDevice : public CDriverTest {
protected:
    void SetUpTest() override { ASSERT_TRUE(CSettingsFile::GetInstance()->BuildPath()); }
};

class AgentNoDevice : public CNoDriverTest {
protected:
    void SetUpTest() override { ASSERT_TRUE(CSettingsFile::GetInstance()->BuildPath()); }
};

TEST_F(AgentDevice, SetLevelReachesDriverAndIsRecorded)
{
    LARGE_INTEGER before = {}, after = {};
    QueryPerformanceCounter(&before);
    EXPECT_TRUE(KB()->SetKBBackLightBrightness(7));
    QueryPerformanceCounter(&after);

    const simkb::SimRecord rec = LastRecord();
    EXPECT_EQ(kSetCode, rec.ulCode);
    EXPECT_EQ(7, rec.lLevel);
    EXPECT_EQ(4u, rec.ulBytes);
    EXPECT_EQ(0, rec.lStatus);
    // The driver's time stamp falls within the call, on the same clock as user mode.
    EXPECT_GE(rec.llTime, before.QuadPart);
    EXPECT_LE(rec.llTime, after.QuadPart);
    EXPECT_EQ(7, DriverLevel());
    EXPECT_EQ(L"7", m_settings.Read(glim::kKeyCurrentKBBrightness));

    // Negative and zero levels pass unchanged.
    EXPECT_TRUE(KB()->SetKBBackLightBrightness(-3));
    EXPECT_EQ(-3, DriverLevel());
    EXPECT_EQ(L"-3", m_settings.Read(glim::kKeyCurrentKBBrightness));
    EXPECT_TRUE(KB()->SetKBBackLightBrightness(0));
    EXPECT_EQ(0, DriverLevel());
    EXPECT_EQ(L"0", m_settings.Read(glim::kKeyCurrentKBBrightness));
}

TEST_F(AgentDevice, SetAnsweredWithZeroBytesFailsAndRecordsNothing)
{
    ASSERT_TRUE(KB()->SetKBBackLightBrightness(4));
    ASSERT_EQ(ERROR_SUCCESS, glimtest::FailNext(1, simkb::SimFailZero));

    EXPECT_FALSE(KB()->SetKBBackLightBrightness(9));
    const simkb::SimRecord rec = LastRecord();
    EXPECT_EQ(9, rec.lLevel);
    EXPECT_EQ(0, rec.lStatus) << "the driver reported success, with no bytes";
    EXPECT_EQ(0u, rec.ulBytes);
    EXPECT_EQ(L"4", m_settings.Read(glim::kKeyCurrentKBBrightness));

    // Only one request was failed.
    EXPECT_TRUE(KB()->SetKBBackLightBrightness(9));
    EXPECT_EQ(L"9", m_settings.Read(glim::kKeyCurrentKBBrightness));
}

TEST_F(AgentDevice, SetAnsweredWithErrorFailsAndRecordsNothing)
{
    ASSERT_EQ(ERROR_SUCCESS, glimtest::FailNext(2, simkb::SimFailError));

    EXPECT_FALSE(KB()->SetKBBackLightBrightness(5));
    EXPECT_FALSE(KB()->SetKBBackLightBrightness(6));
    EXPECT_NE(0, LastRecord().lStatus);
    EXPECT_EQ(std::wstring(CSettingsSandbox::kAbsent), m_settings.Read(glim::kKeyCurrentKBBrightness));
    EXPECT_EQ(0, DriverLevel()) << "a failed request must not change the level";
}

TEST_F(AgentDevice, GetReturnsDriverLevelAndLogsIt)
{
    ASSERT_EQ(4u, RawBacklightRequest(kSetCode, 23));
    glimtest::Clear();

    EXPECT_EQ(23, KB()->GetKBBackLightBrightness());
    EXPECT_TRUE(glimtest::Contains(L"Brightness is 23", kGetLabel));
    const simkb::SimRecord rec = LastRecord();
    EXPECT_EQ(kGetCode, rec.ulCode);
    EXPECT_EQ(4u, rec.ulBytes);
    // Reading the level records nothing.
    EXPECT_EQ(std::wstring(CSettingsSandbox::kAbsent), m_settings.Read(glim::kKeyCurrentKBBrightness));
}

TEST_F(AgentDevice, GetAnsweredWithZeroBytesReturnsZeroSilently)
{
    ASSERT_EQ(4u, RawBacklightRequest(kSetCode, 12));
    glimtest::Clear();
    ASSERT_EQ(ERROR_SUCCESS, glimtest::FailNext(1, simkb::SimFailZero));

    EXPECT_EQ(0, KB()->GetKBBackLightBrightness());
    EXPECT_FALSE(LoggedWithPrefix(L"Brightness is"));
    EXPECT_EQ(12, DriverLevel());
}

TEST_F(AgentDevice, RecoverySlValueAppliesUserLevel)
{
    // Missing KBBrightness reads as 10.
    glimtest::Clear();
    EXPECT_TRUE(KB()->RecoverySlValueBrightness());
    EXPECT_TRUE(glimtest::Contains(L"iBrightness is 10", kRecoveryLabel));
    EXPECT_EQ(10, DriverLevel());
    EXPECT_EQ(L"10", m_settings.Read(glim::kKeyCurrentKBBrightness));

    ASSERT_TRUE(m_settings.Write(glim::kKeyKBBrightness, L"6"));
    glimtest::Clear();
    EXPECT_TRUE(KB()->RecoverySlValueBrightness());
    EXPECT_TRUE(glimtest::Contains(L"iBrightness is 6", kRecoveryLabel));
    EXPECT_EQ(6, DriverLevel());
    EXPECT_EQ(L"6", m_settings.Read(glim::kKeyCurrentKBBrightness));
}

TEST_F(AgentDevice, RecoverySlValueReportsFailure)
{
    ASSERT_TRUE(m_settings.Write(glim::kKeyKBBrightness, L"8"));
    ASSERT_EQ(ERROR_SUCCESS, glimtest::FailNext(1, simkb::SimFailZero));

    EXPECT_FALSE(KB()->RecoverySlValueBrightness());
    EXPECT_TRUE(glimtest::Contains(L"iBrightness is 8", kRecoveryLabel)) << "logged before the attempt";
    EXPECT_EQ(std::wstring(CSettingsSandbox::kAbsent), m_settings.Read(glim::kKeyCurrentKBBrightness));
}

TEST_F(AgentDevice, DriverRestartedIsPickedUpByNextRequest)
{
    ASSERT_TRUE(KB()->SetKBBackLightBrightness(3));
    ASSERT_EQ(ERROR_SUCCESS, m_driver.Stop());

    EXPECT_FALSE(KB()->SetKBBackLightBrightness(4));
    EXPECT_EQ(L"3", m_settings.Read(glim::kKeyCurrentKBBrightness));

    ASSERT_EQ(ERROR_SUCCESS, m_driver.Start());
    EXPECT_TRUE(KB()->SetKBBackLightBrightness(5));
    EXPECT_EQ(L"5", m_settings.Read(glim::kKeyCurrentKBBrightness));
    EXPECT_EQ(5, DriverLevel());
}

TEST_F(AgentNoDevice, SetFailsAndRecordsNothing)
{
    ASSERT_TRUE(m_settings.Write(glim::kKeyCurrentKBBrightness, L"2"));
    EXPECT_FALSE(KB()->SetKBBackLightBrightness(7));
    EXPECT_EQ(L"2", m_settings.Read(glim::kKeyCurrentKBBrightness));
}

TEST_F(AgentNoDevice, GetReturnsZeroAndLogsNothing)
{
    EXPECT_EQ(0, KB()->GetKBBackLightBrightness());
    EXPECT_TRUE(glimtest::Lines().empty());
}

TEST_F(AgentNoDevice, RecoverySlValueLogsAndFails)
{
    EXPECT_FALSE(KB()->RecoverySlValueBrightness());
    EXPECT_TRUE(glimtest::Contains(L"iBrightness is 10", kRecoveryLabel));
    EXPECT_EQ(std::wstring(CSettingsSandbox::kAbsent), m_settings.Read(glim::kKeyCurrentKBBrightness));
}

}  // namespace
