#include "DeviceFixture.h"

#include "TestLog.h"

namespace {

// ERROR_INVALID_IMAGE_HASH (mingw's headers lack the name): Windows refuses a driver that
// is not signed for this machine.
constexpr DWORD kErrorInvalidImageHash = 577;

bool DriverRefusedBySystem(DWORD dwErr)
{
    return dwErr == kErrorInvalidImageHash;
}

}  // namespace

namespace glimtest {

void CDriverTest::SetUpBase()
{
    ASSERT_TRUE(m_settings.Ready()) << "cannot prepare the settings folder";
    const DWORD dwErr = m_driver.Install();
    if (DriverRefusedBySystem(dwErr))
        GTEST_SKIP() << "this machine does not load the unsigned simulated driver (error " << dwErr << ")";
    ASSERT_EQ(ERROR_SUCCESS, dwErr) << "installing and starting " << "GlimSimKb.sys through the SCM";
    ASSERT_EQ(ERROR_SUCCESS, glimtest::Reset());
    glimtest::Clear();
}

simkb::SimRecord CDriverTest::LastRecord()
{
    glimtest::SHistory history;
    EXPECT_TRUE(glimtest::History(&history));
    EXPECT_FALSE(history.records.empty()) << "the driver recorded no request";
    return history.records.empty() ? simkb::SimRecord{} : history.records.back();
}

void CNoDriverTest::SetUpBase()
{
    ASSERT_TRUE(m_settings.Ready()) << "cannot prepare the settings folder";
    ASSERT_EQ(ERROR_SUCCESS, glimtest::RemoveInstalledDriver());
    ASSERT_FALSE(glimtest::DeviceOpens()) << "some other driver owns the device";
    glimtest::Clear();
}

DWORD RawBacklightRequest(DWORD dwCode, INT32 nIn, INT32* pnOut)
{
    INT32 nOut = 0;
    DWORD dwBytes = 0;
    glimtest::DeviceRequest(dwCode, &nIn, sizeof(nIn), &nOut, sizeof(nOut), &dwBytes);
    if (pnOut)
        *pnOut = nOut;
    return dwBytes;
}

}  // namespace glimtest
