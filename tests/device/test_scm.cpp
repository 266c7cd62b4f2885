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
    return scm::QueryState(pszName, pdwErr);
}

class ScmHelpers : public testing::Test {
protected:
    void SetUp() override
    {
        // The probe loads the simulated driver under its own name: the device must be free.
        ASSERT_EQ(ERROR_SUCCESS, simkb::RemoveInstalledDriver());
        ASSERT_EQ(ERROR_SUCCESS, scm::Remove(kProbeName));
    }
    void TearDown() override { scm::Remove(kProbeName); }

    static scm::SServiceSpec DriverSpec(const std::wstring& path)
    {
        scm::SServiceSpec spec;
        spec.name = kProbeName;
        spec.binaryPath = path;
        spec.dwType = SERVICE_KERNEL_DRIVER;
        return spec;
    }
};

TEST_F(ScmHelpers, RemovingMissingServiceSucceeds)
{
    DWORD dwErr = 0;
    EXPECT_EQ(0u, StateOf(kProbeName, &dwErr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST), dwErr);
    EXPECT_EQ(ERROR_SUCCESS, scm::Remove(kProbeName));
    EXPECT_EQ(ERROR_SUCCESS, scm::Stop(kProbeName));
}

TEST_F(ScmHelpers, InstallReplacesLeftoverService)
{
    const std::wstring path = simkb::DriverPathBesideProgram();
    ASSERT_EQ(ERROR_SUCCESS, scm::Install(DriverSpec(L"C:\\nowhere\\old.sys")));
    // A plain CreateServiceW would now fail with ERROR_SERVICE_EXISTS.
    ASSERT_EQ(ERROR_SUCCESS, scm::Install(DriverSpec(path)));

    scm::CScHandle hService = scm::OpenServiceHandle(kProbeName, SERVICE_QUERY_CONFIG);
    ASSERT_TRUE(hService);
    BYTE buffer[8192] = {};
    DWORD dwNeeded = 0;
    ASSERT_TRUE(QueryServiceConfigW(hService.Get(), reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer), sizeof(buffer), &dwNeeded));
    const auto* pConfig = reinterpret_cast<const QUERY_SERVICE_CONFIGW*>(buffer);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_KERNEL_DRIVER), pConfig->dwServiceType);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_DEMAND_START), pConfig->dwStartType);
    EXPECT_NE(nullptr, wcsstr(pConfig->lpBinaryPathName, simkb::kDriverFileName)) << "the second install's path";

    DWORD dwErr = 0;
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), StateOf(kProbeName, &dwErr));
}

TEST_F(ScmHelpers, StartOfMissingDriverFailsWithinDeadline)
{
    ASSERT_EQ(ERROR_SUCCESS, scm::Install(DriverSpec(L"C:\\nowhere\\missing.sys")));
    const ULONGLONG ullStart = GetTickCount64();
    EXPECT_NE(ERROR_SUCCESS, scm::Start(kProbeName, kShortTimeoutMs));
    EXPECT_LT(GetTickCount64() - ullStart, kShortTimeoutMs + 2000ull);
    DWORD dwErr = 0;
    EXPECT_NE(static_cast<DWORD>(SERVICE_RUNNING), StateOf(kProbeName, &dwErr));
}

TEST_F(ScmHelpers, OwnerStopsAndRemovesWhatItInstalled)
{
    {
        scm::CServiceInstall svc;
        ASSERT_EQ(ERROR_SUCCESS, svc.Install(DriverSpec(simkb::DriverPathBesideProgram())));
        ASSERT_EQ(ERROR_SUCCESS, svc.Start());
        DWORD dwErr = 0;
        EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), StateOf(kProbeName, &dwErr));
        EXPECT_TRUE(simkb::DeviceOpens());
        // Starting a running service again is no error.
        EXPECT_EQ(ERROR_SUCCESS, svc.Start());
    }
    DWORD dwErr = 0;
    EXPECT_EQ(0u, StateOf(kProbeName, &dwErr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST), dwErr);
    EXPECT_FALSE(simkb::DeviceOpens()) << "the driver's device outlived its service";
}

TEST_F(ScmHelpers, ReleasedServiceStaysInstalled)
{
    {
        scm::CServiceInstall svc;
        ASSERT_EQ(ERROR_SUCCESS, svc.Install(DriverSpec(L"C:\\nowhere\\kept.sys")));
        svc.Release();
    }
    DWORD dwErr = 0;
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), StateOf(kProbeName, &dwErr));
    EXPECT_EQ(ERROR_SUCCESS, dwErr);
}

}  // namespace
