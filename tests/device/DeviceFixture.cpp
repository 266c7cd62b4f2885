#include "DeviceFixture.h"

#include "GlimNames.h"
#include "TestLog.h"

namespace {

// ERROR_INVALID_IMAGE_HASH (mingw's headers lack the name): Windows refuses a driver that
// is not signed for this machine.
constexpr DWORD kErrorInvalidImageHash = 577;

bool DriverRefusedBySystem(DWORD dwErr)
{
    return dwErr == kErrorInvalidImageHash;
}

std::wstring AllUsersFolder()
{
    wchar_t szPath[MAX_PATH] = {};
    const DWORD dwLen = GetEnvironmentVariableW(glim::kSettingsEnvVar, szPath, MAX_PATH);
    return dwLen && dwLen < MAX_PATH ? szPath : L"";
}

}  // namespace

CSettingsSandbox::CSettingsSandbox()
{
    const std::wstring root = AllUsersFolder();
    if (root.empty())
        return;
    m_path = root + L"\\" + glim::kSettingsRelativePath;
    m_folder = m_path.substr(0, m_path.find_last_of(L'\\'));
    const std::wstring vendor = m_folder.substr(0, m_folder.find_last_of(L'\\'));
    CreateDirectoryW(vendor.c_str(), nullptr);
    m_bCreatedFolder = CreateDirectoryW(m_folder.c_str(), nullptr) != FALSE;
    DeleteFileW(m_path.c_str());
    m_bReady = GetFileAttributesW(m_folder.c_str()) != INVALID_FILE_ATTRIBUTES &&
               GetFileAttributesW(m_path.c_str()) == INVALID_FILE_ATTRIBUTES;
}

CSettingsSandbox::~CSettingsSandbox()
{
    if (m_path.empty())
        return;
    DeleteFileW(m_path.c_str());
    if (m_bCreatedFolder)
        RemoveDirectoryW(m_folder.c_str());  // only when it is empty
}

std::wstring CSettingsSandbox::Read(const wchar_t* pszKey) const
{
    wchar_t szValue[256] = {};
    GetPrivateProfileStringW(glim::kSettingsSection, pszKey, kAbsent, szValue, 256, m_path.c_str());
    return szValue;
}

bool CSettingsSandbox::Write(const wchar_t* pszKey, const wchar_t* pszValue) const
{
    return WritePrivateProfileStringW(glim::kSettingsSection, pszKey, pszValue, m_path.c_str()) != FALSE;
}

void CDriverTest::SetUp()
{
    ASSERT_TRUE(m_settings.Ready()) << "cannot prepare the settings folder";
    const DWORD dwErr = m_driver.Install();
    if (DriverRefusedBySystem(dwErr))
        GTEST_SKIP() << "this machine does not load the unsigned simulated driver (error " << dwErr << ")";
    ASSERT_EQ(ERROR_SUCCESS, dwErr) << "installing and starting " << "GlimSimKb.sys through the SCM";
    ASSERT_EQ(ERROR_SUCCESS, simkb::Reset());
    testlog::Clear();
}

simkb::SimRecord CDriverTest::LastRecord()
{
    simkb::SHistory history;
    EXPECT_TRUE(simkb::History(&history));
    EXPECT_FALSE(history.records.empty()) << "the driver recorded no request";
    return history.records.empty() ? simkb::SimRecord{} : history.records.back();
}

LONG CDriverTest::DriverLevel()
{
    LONG lLevel = -12345;
    EXPECT_TRUE(simkb::Level(&lLevel));
    return lLevel;
}

void CNoDriverTest::SetUp()
{
    ASSERT_TRUE(m_settings.Ready()) << "cannot prepare the settings folder";
    ASSERT_EQ(ERROR_SUCCESS, simkb::RemoveInstalledDriver());
    ASSERT_FALSE(simkb::DeviceOpens()) << "some other driver owns the device";
    testlog::Clear();
}

DWORD RawBacklightRequest(DWORD dwCode, INT32 nIn, INT32* pnOut)
{
    INT32 nOut = 0;
    DWORD dwBytes = 0;
    simkb::DeviceRequest(dwCode, &nIn, sizeof(nIn), &nOut, sizeof(nOut), &dwBytes);
    if (pnOut)
        *pnOut = nOut;
    return dwBytes;
}
