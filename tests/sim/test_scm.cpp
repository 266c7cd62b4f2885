// The service-control helpers the tests and tools share: installing is idempotent,
// removing a missing service is no error, a service that cannot start is reported within
// the deadline, and an owner object removes what it installed.
#include <gtest/gtest.h>

#include "Scm.h"
#include "SimDriver.h"

namespace {

constexpr const wchar_t* kProbeName = L"GlimkitScmProbe";
constexpr DWORD kShortTimeoutMs = 10000;

DWORD StateOf(const wchar_t* pszName, DWORD* pdwErr)
{
    return glimtest::ScmQueryState(pszName, pdwErr);
}

class ScmHelpers : public testing::Test {
protected:
    void SetUp() override
    {
        // The probe loads the simulated driver under its own name: the device must be free.
        ASSERT_EQ(ERROR_SUCCESS, glimtest::RemoveInstalledDriver());
        ASSERT_EQ(ERROR_SUCCESS, glimtest::ScmRemove(kProbeName));
    }
    void TearDown() override { glimtest::ScmRemove(kProbeName); }

    static glimtest::SServiceConfig DriverConfig(const std::wstring& path)
    {
        glimtest::SServiceConfig config;
        config.name = kProbeName;
        config.binaryPath = path;
        config.dwType = SERVICE_KERNEL_DRIVER;
        return config;
    }
};

TEST_F(ScmHelpers, RemovingMissingServiceSucceeds)
{
    DWORD dwErr = 0;
    EXPECT_EQ(0u, StateOf(kProbeName, &dwErr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST), dwErr);
    EXPECT_EQ(ERROR_SUCCESS, glimtest::ScmRemove(kProbeName));
    EXPECT_EQ(ERROR_SUCCESS, glimtest::ScmStop(kProbeName));
}

// The service's configuration as the manager reports it.
struct SConfig {
    DWORD dwType = 0;
    DWORD dwStartType = 0;
    std::wstring binaryPath;
};

bool QueryConfig(SConfig* pConfig)
{
    glimtest::CScHandle hService = glimtest::OpenServiceHandle(kProbeName, SERVICE_QUERY_CONFIG);
    BYTE buffer[8192] = {};
    DWORD dwNeeded = 0;
    auto* pRaw = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer);
    if (!hService || !QueryServiceConfigW(hService.Get(), pRaw, sizeof(buffer), &dwNeeded))
        return false;
    pConfig->dwType = pRaw->dwServiceType;
    pConfig->dwStartType = pRaw->dwStartType;
    pConfig->binaryPath = pRaw->lpBinaryPathName ? pRaw->lpBinaryPathName : L"";
    return true;
}

TEST_F(ScmHelpers, InstallReplacesLeftoverService)
{
    const std::wstring path = glimtest::DriverPathBesideProgram();
    ASSERT_EQ(ERROR_SUCCESS, glimtest::ScmInstall(DriverConfig(L"C:\\nowhere\\old.sys")));
    // A plain CreateServiceW would now fail with ERROR_SERVICE_EXISTS.
    ASSERT_EQ(ERROR_SUCCESS, glimtest::ScmInstall(DriverConfig(path)));

    SConfig config;
    ASSERT_TRUE(QueryConfig(&config));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_KERNEL_DRIVER), config.dwType);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_DEMAND_START), config.dwStartType);
    EXPECT_NE(std::wstring::npos, config.binaryPath.find(simkb::kDriverFileName)) << "the second install's path";

    DWORD dwErr = 0;
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), StateOf(kProbeName, &dwErr));
}

TEST_F(ScmHelpers, ChangeTypeMakesServiceInteractive)
{
    glimtest::SServiceConfig install;
    install.name = kProbeName;
    install.binaryPath = L"\"C:\\nowhere\\probe.exe\"";
    install.dwStartType = SERVICE_DISABLED;
    ASSERT_EQ(ERROR_SUCCESS, glimtest::ScmInstall(install));
    ASSERT_EQ(ERROR_SUCCESS,
              glimtest::ScmChangeType(kProbeName, SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS));

    SConfig config;
    ASSERT_TRUE(QueryConfig(&config));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS), config.dwType);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_DISABLED), config.dwStartType) << "left as it was";
    EXPECT_EQ(L"\"C:\\nowhere\\probe.exe\"", config.binaryPath);
}

TEST_F(ScmHelpers, StartOfMissingDriverFailsWithinDeadline)
{
    ASSERT_EQ(ERROR_SUCCESS, glimtest::ScmInstall(DriverConfig(L"C:\\nowhere\\missing.sys")));
    const ULONGLONG ullStart = GetTickCount64();
    EXPECT_NE(ERROR_SUCCESS, glimtest::ScmStart(kProbeName, kShortTimeoutMs));
    EXPECT_LT(GetTickCount64() - ullStart, kShortTimeoutMs + 2000ull);
    DWORD dwErr = 0;
    EXPECT_NE(static_cast<DWORD>(SERVICE_RUNNING), StateOf(kProbeName, &dwErr));
}

TEST_F(ScmHelpers, OwnerStopsAndRemovesWhatItInstalled)
{
    {
        glimtest::CServiceInstall svc;
        ASSERT_EQ(ERROR_SUCCESS, svc.Install(DriverConfig(glimtest::DriverPathBesideProgram())));
        ASSERT_EQ(ERROR_SUCCESS, svc.Start());
        DWORD dwErr = 0;
        EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), StateOf(kProbeName, &dwErr));
        EXPECT_TRUE(glimtest::DeviceOpens());
        // Starting a running service again is no error.
        EXPECT_EQ(ERROR_SUCCESS, svc.Start());
    }
    DWORD dwErr = 0;
    EXPECT_EQ(0u, StateOf(kProbeName, &dwErr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST), dwErr);
    EXPECT_FALSE(glimtest::DeviceOpens()) << "the driver's device outlived its service";
}

TEST_F(ScmHelpers, ReleasedServiceStaysInstalled)
{
    {
        glimtest::CServiceInstall svc;
        ASSERT_EQ(ERROR_SUCCESS, svc.Install(DriverConfig(L"C:\\nowhere\\kept.sys")));
        svc.Release();
    }
    DWORD dwErr = 0;
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), StateOf(kProbeName, &dwErr));
    EXPECT_EQ(ERROR_SUCCESS, dwErr);
}

}  // namespace
