// The service's CKBBackLight against the simulated filter driver: it sets levels without
// recording them and restores the level the agent recorded. The test never builds the
// settings path itself: the service's instance must do it on creation.
#include <gtest/gtest.h>

#include "DeviceFixture.h"
#include "GlimNames.h"
#include "KBBackLight.h"
#include "TestLog.h"

using namespace glimtest;

namespace {

constexpr const wchar_t* kRecoveryLabel = L"CKBBackLight::RecoveryCurrentBrightness";

CKBBackLight* KB()
{
    return CKBBackLight::GetInstance();
}

using ServiceDevice = CDriverTest;
using ServiceNoDevice = CNoDriverTest;

TEST_F(ServiceDevice, SetReachesDriverAndRecordsNothing)
{
    EXPECT_TRUE(KB()->SetKBBackLightBrightness(8));
    EXPECT_EQ(8, LastRecord().lLevel);
    EXPECT_EQ(8, DriverLevel());
    EXPECT_EQ(std::wstring(CSettingsSandbox::kAbsent), m_settings.Read(glim::kKeyCurrentKBBrightness));
}

TEST_F(ServiceDevice, SetAnsweredWithZeroBytesFails)
{
    ASSERT_EQ(ERROR_SUCCESS, glimtest::FailNext(1, simkb::SimFailZero));
    EXPECT_FALSE(KB()->SetKBBackLightBrightness(8));
    EXPECT_EQ(0u, LastRecord().ulBytes);
}

TEST_F(ServiceDevice, RecoveryCurrentAppliesRecordedLevel)
{
    ASSERT_TRUE(m_settings.Write(glim::kKeyCurrentKBBrightness, L"14"));
    KB()->RecoveryCurrentBrightness();
    EXPECT_TRUE(glimtest::Contains(L"iBrightness is 14", kRecoveryLabel));
    EXPECT_EQ(14, DriverLevel());
    const simkb::SimRecord rec = LastRecord();
    EXPECT_EQ(static_cast<unsigned long>(IOCTL_KBBL_SET_BRIGHTNESS), rec.ulCode);
    EXPECT_EQ(14, rec.lLevel);
    // Restoring is no new level of the agent's: the file keeps what it had.
    EXPECT_EQ(L"14", m_settings.Read(glim::kKeyCurrentKBBrightness));
}

TEST_F(ServiceDevice, RecoveryCurrentWithoutRecordedLevelAppliesZero)
{
    INT32 nOut = 0;
    ASSERT_EQ(4u, RawBacklightRequest(static_cast<DWORD>(IOCTL_KBBL_SET_BRIGHTNESS), 5, &nOut));
    glimtest::Clear();
    KB()->RecoveryCurrentBrightness();
    EXPECT_TRUE(glimtest::Contains(L"iBrightness is 0", kRecoveryLabel));
    EXPECT_EQ(0, DriverLevel());
    EXPECT_EQ(std::wstring(CSettingsSandbox::kAbsent), m_settings.Read(glim::kKeyCurrentKBBrightness));
}

TEST_F(ServiceNoDevice, SetAndRecoveryFailQuietly)
{
    EXPECT_FALSE(KB()->SetKBBackLightBrightness(3));
    ASSERT_TRUE(m_settings.Write(glim::kKeyCurrentKBBrightness, L"9"));
    KB()->RecoveryCurrentBrightness();
    EXPECT_TRUE(glimtest::Contains(L"iBrightness is 9", kRecoveryLabel));
    EXPECT_EQ(1u, glimtest::Lines().size()) << "no error line names the device";
}

}  // namespace
