#include "DeviceFixture.h"

#include "TestLog.h"

namespace {

// ERROR_INVALID_IMAGE_HASH (mingw's headers lack the name): Windows refuses a driver that
// is not signed for this machine.
constexpr DWORD kErrorInvalidImageHash = 577;

const char* DriverRefusalNote(DWORD dwErr)
{
    return dwErr == kErrorInvalidImageHash
        ? " (this machine refuses the unsigned simulated driver: test signing is off)"
        : "";
}

}  // namespace

namespace glimtest {

void CDriverTest::SetUpBase()
{
    ASSERT_TRUE(m_settings.Ready()) << "cannot prepare the settings folder";
    // A broken environment fails the test with its error: a skip would read as a pass.
    const DWORD dwErr = m_driver.Install();
    ASSERT_EQ(ERROR_SUCCESS, dwErr) << "CDriverTest: installing and starting "
                                    << "GlimSimKb.sys through the SCM" << DriverRefusalNote(dwErr);
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
