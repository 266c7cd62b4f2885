// The setup helper's service and registration verbs, in-process: the install plan and the
// image rule; the recovery, install and removal against a stand-in service under the Wine
// service manager with the service program's verbs played by the test; the Run value and
// the Apps & features entry under keys of the test's own.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ChildProcess.h"
#include "FailureActions.h"
#include "Registration.h"
#include "Scm.h"
#include "ScopedHandle.h"
#include "SetupHelperTest.h"
#include "ServiceSetup.h"
#include "TempFolder.h"

using namespace glimsetup;
using glimtest::HasLine;

namespace {

constexpr const wchar_t* kPeerService = L"GlimSetupPeerSvc2";

TEST(SetupHelperServiceRule, PlansWhatAnInstallDoesWithTheRegistration)
{
    EXPECT_EQ(ServicePlan::Install, PlanServiceInstall(false, false));
    EXPECT_EQ(ServicePlan::ReplaceAndInstall, PlanServiceInstall(true, false));
    EXPECT_EQ(ServicePlan::KeepAndRecover, PlanServiceInstall(true, true));
}

TEST(SetupHelperServiceRule, KnowsTheImageOfThisFolder)
{
    const std::wstring strDir = L"C:\\Program Files (x86)\\Vessik\\Glimkit";
    struct SCase {
        const wchar_t* pszBinaryPath;
        bool bSame;
    };
    const SCase cases[] = {
        {L"\"C:\\Program Files (x86)\\Vessik\\Glimkit\\Glimward\"", true},
        {L"\"C:\\Program Files (x86)\\Vessik\\Glimkit\\Glimward.exe\"", true},
        {L"\"c:\\program files (x86)\\vessik\\glimkit\\GLIMWARD\"", true},
        {L"C:\\Program Files (x86)\\Vessik\\Glimkit\\Glimward", false},
        {L"\"C:\\Program Files\\Vessik\\Glimkit\\Glimward\"", false},
        {L"\"C:\\Program Files (x86)\\Vessik\\Glimkit\\Glimward\" x", false},
        {L"\"C:\\Program Files (x86)\\Vessik\\Glimkit\\Glimwardx\"", false},
        {L"", false},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(testing::Message() << std::string(c.pszBinaryPath, c.pszBinaryPath + wcslen(c.pszBinaryPath)));
        EXPECT_EQ(c.bSame, IsImageOf(c.pszBinaryPath, strDir));
    }
}

// A program folder of the test's own whose Glimward.exe is the stand-in service, and the
// service program's verbs played on it: -I registers it, -U removes it.
class SetupHelperService : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(0u, glimtest::ScmRemove(kPeerService));
        ASSERT_TRUE(CopyFileW(glimtest::SetupPeerPath().c_str(), m_temp.File(L"Glimward.exe").c_str(), TRUE));
        m_place.strProgramDir = m_temp.Path();
        m_place.strServiceName = kPeerService;
        m_place.dwServiceWaitMs = 10000;
    }
    void TearDown() override { glimtest::ScmRemove(kPeerService); }

    // The registration the service program's install verb makes: the quoted path without ".exe".
    DWORD Register(const std::wstring& strBinaryPath) const
    {
        return glimtest::ScmInstall(glimtest::PeerServiceConfig(kPeerService, strBinaryPath));
    }
    std::wstring ThisImage() const { return L"\"" + m_temp.File(L"Glimward") + L"\""; }

    // Plays the verbs; bActs false: the program runs but does nothing.
    ServiceVerbRunner Runner(bool bActs, const std::wstring& strInstalledImage)
    {
        return [this, bActs, strInstalledImage](CVerb* pVerb, const wchar_t* pszVerb) {
            m_verbs.push_back(pszVerb);
            if (!bActs)
                return true;
            const DWORD dwErr =
                std::wstring(pszVerb) == L"-I" ? Register(strInstalledImage) : glimtest::ScmRemove(kPeerService);
            return dwErr == ERROR_SUCCESS || pVerb->Fail(L"the verb failed");
        };
    }

    glimtest::CTempFolder m_temp;
    SSetupPlace m_place;
    std::vector<std::wstring> m_verbs;
};

TEST_F(SetupHelperService, RecoveryIsSetOnTheRegisteredServiceAsWineShowsIt)
{
    SVerbResult missing = SetServiceRecovery(m_place);
    EXPECT_EQ(kExitFailed, missing.nExit);
    EXPECT_EQ(0u, missing.strFailure.rfind(L"The service GlimSetupPeerSvc2 could not be opened to set its recovery"))
        << missing.strFailure;

    ASSERT_EQ(0u, Register(ThisImage()));
    const SVerbResult result = SetServiceRecovery(m_place);
    ASSERT_EQ(kExitDone, result.nExit) << result.strFailure;
    EXPECT_TRUE(HasLine(result, L"Setting the service's recovery: restart after 5 s, 30 s, 60 s; reset after 86400 s"));

    glimtest::CScHandle hService = glimtest::OpenServiceHandle(kPeerService, SERVICE_QUERY_CONFIG);
    ASSERT_TRUE(hService);
    const std::wstring strFlagSet = L"The failure actions flag is set: a stop with an error is restarted too";
    BOOL bOnErrors = FALSE;
    DWORD dwErr = 0;
    if (glimtest::ReadFailureActionsFlag(hService.Get(), &bOnErrors, &dwErr)) {
        EXPECT_TRUE(bOnErrors);
        EXPECT_TRUE(HasLine(result, strFlagSet));
    } else {
        // Wine takes the flag without reporting it; a manager that refuses it is logged.
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_LEVEL), dwErr);
        EXPECT_TRUE(HasLine(result, strFlagSet) ||
                    HasLine(result, L"The failure actions flag could not be set (error 124)"));
    }
    glimtest::ExpectStoredProductRecovery(hService.Get());
}

TEST_F(SetupHelperService, InstallMakesReplacesOrKeepsTheRegistrationAndTheServiceMustRun)
{
    enum class Found { None, OtherImage, ThisImage };
    struct SCase {
        const char* pszName;
        Found found;
        bool bVerbsAct;
        bool bInstallsStartable;
        std::vector<std::wstring> verbs;
        int nExit;
        const wchar_t* pszFailureStart;
    };
    const SCase cases[] = {
        {"none registered", Found::None, true, true, {L"-I"}, kExitDone, L""},
        {"another image registered", Found::OtherImage, true, true, {L"-U", L"-I"}, kExitDone, L""},
        {"this image registered", Found::ThisImage, true, true, {}, kExitDone, L""},
        {"the install verb does nothing",
         Found::None,
         false,
         true,
         {L"-I"},
         kExitFailed,
         L"The service could not be installed (service state 0)."},
        {"the removal verb does nothing",
         Found::OtherImage,
         false,
         true,
         {L"-U"},
         kExitFailed,
         L"The old service registration could not be removed (service state 1)."},
        {"the installed service cannot start",
         Found::None,
         true,
         false,
         {L"-I"},
         kExitFailed,
         L"The service GlimSetupPeerSvc2 could not be started (error "},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        m_verbs.clear();
        if (c.found == Found::OtherImage) {
            ASSERT_EQ(0u, Register(glimtest::CChildProcess::QuoteArg(glimtest::SetupPeerPath()) + L" service 0"));
        }
        if (c.found == Found::ThisImage) {
            ASSERT_EQ(0u, Register(ThisImage()));
        }
        const std::wstring strInstalled = c.bInstallsStartable ? ThisImage() : L"\"" + m_temp.File(L"Missing") + L"\"";

        const SVerbResult result = InstallService(m_place, Runner(c.bVerbsAct, strInstalled));

        EXPECT_EQ(c.nExit, result.nExit) << result.strFailure;
        EXPECT_EQ(0u, result.strFailure.rfind(c.pszFailureStart, 0)) << result.strFailure;
        EXPECT_EQ(c.verbs, m_verbs);
        EXPECT_EQ(
            c.found == Found::ThisImage,
            HasLine(result, L"Setting the service's recovery: restart after 5 s, 30 s, 60 s; reset after 86400 s"));
        if (c.nExit == kExitDone) {
            EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), glimtest::ScmQueryState(kPeerService));
        }
        ASSERT_EQ(0u, glimtest::ScmRemove(kPeerService));
    }
}

TEST_F(SetupHelperService, RemoveFailsWithoutTheProgramOrWhenTheServiceStays)
{
    struct SCase {
        const char* pszName;
        bool bRegistered;
        bool bProgramPresent;
        bool bVerbActs;
        int nExit;
        const wchar_t* pszFailure;
    };
    const SCase cases[] = {
        {"not registered", false, true, true, kExitDone, L""},
        {"registered, the program missing", true, false, true, kExitFailed, nullptr},
        {"registered and removed", true, true, true, kExitDone, L""},
        {"registered and staying", true, true, false, kExitFailed,
         L"The service could not be removed (service state 1)."},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        m_verbs.clear();
        if (c.bRegistered) {
            ASSERT_EQ(0u, Register(ThisImage()));
        }
        if (!c.bProgramPresent) {
            ASSERT_TRUE(DeleteFileW(m_temp.File(L"Glimward.exe").c_str()));
        }

        const SVerbResult result = RemoveService(m_place, Runner(c.bVerbActs, ThisImage()));

        EXPECT_EQ(c.nExit, result.nExit) << result.strFailure;
        const std::wstring strFailure = c.pszFailure
            ? c.pszFailure
            : L"The service is registered but " + m_temp.File(L"Glimward.exe") + L" is missing.";
        EXPECT_EQ(strFailure, result.strFailure);
        EXPECT_EQ(c.bRegistered && c.bProgramPresent ? 1u : 0u, m_verbs.size());
        if (!c.bRegistered) {
            EXPECT_TRUE(HasLine(result, L"The service GlimSetupPeerSvc2 is not registered"));
        }
        ASSERT_EQ(0u, glimtest::ScmRemove(kPeerService));
        if (!c.bProgramPresent) {
            ASSERT_TRUE(CopyFileW(glimtest::SetupPeerPath().c_str(), m_temp.File(L"Glimward.exe").c_str(), TRUE));
        }
    }
}

// A removal while another program holds the service open: Windows keeps the registration,
// marked with DeleteFlag, until that handle closes.
TEST_F(SetupHelperService, RemoveWhileAHandleIsHeldAsWineShowsIt)
{
    ASSERT_EQ(0u, Register(ThisImage()));
    glimtest::CScHandle hHeld = glimtest::OpenServiceHandle(kPeerService, SERVICE_QUERY_STATUS);
    ASSERT_TRUE(hHeld);
    // The removal verb deletes the registration without waiting for it to go.
    const auto deleteOnly = [](CVerb*, const wchar_t*) {
        glimtest::CScHandle hService = glimtest::OpenServiceHandle(kPeerService, DELETE);
        return hService && DeleteService(hService.Get());
    };

    const SVerbResult result = RemoveService(m_place, deleteOnly);

    EXPECT_EQ(kExitDone, result.nExit) << result.strFailure;
    const bool bMarked = HasLine(result, L"The service goes away once the last program that holds it open lets go");
    EXPECT_EQ(bMarked, glimtest::ScmQueryState(kPeerService) != 0);
    hHeld.Reset();
}

// Keys of the test's own in place of HKLM's Run and Uninstall keys.
class SetupHelperRegister : public testing::Test {
protected:
    void SetUp() override
    {
        const std::wstring strBase =
            L"Software\\Vessik\\GlimkitTest\\Register" + std::to_wstring(GetCurrentProcessId());
        m_place.hRoot = HKEY_CURRENT_USER;
        m_place.strRunKey = strBase + L"\\Run";
        m_place.strUninstallKey = strBase + L"\\Uninstall\\Glimkit";
        m_place.strPendingKey = strBase + L"\\Session Manager";
        m_place.strProgramDir = m_temp.Path();
        m_place.strVersion = L"1.2.3";
        m_strBase = strBase;
    }
    void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, m_strBase.c_str()); }

    std::wstring ReadString(const std::wstring& strKey, const wchar_t* pszName) const
    {
        wchar_t szValue[512] = {};
        DWORD cb = sizeof(szValue);
        if (RegGetValueW(m_place.hRoot, strKey.c_str(), pszName, RRF_RT_REG_SZ, nullptr, szValue, &cb) != ERROR_SUCCESS)
            return L"<missing>";
        return szValue;
    }
    DWORD ReadDword(const wchar_t* pszName) const
    {
        DWORD dwValue = 0xdeadbeef;
        DWORD cb = sizeof(dwValue);
        RegGetValueW(m_place.hRoot, m_place.strUninstallKey.c_str(), pszName, RRF_RT_REG_DWORD, nullptr, &dwValue, &cb);
        return dwValue;
    }

    glimtest::CTempFolder m_temp;
    SRegistrationPlace m_place;
    std::wstring m_strBase;
};

TEST_F(SetupHelperRegister, WritesTheRunValueAndTheEntryAndRemovesBoth)
{
    // 3000 bytes in the folder: 3 KiB, rounded up.
    {
        glim::CScopedFile hFile(CreateFileW(m_temp.File(L"Glimagent.exe").c_str(), GENERIC_WRITE, 0, nullptr,
                                            CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(hFile);
        const std::string strBytes(3000, 'x');
        DWORD cb = 0;
        ASSERT_TRUE(WriteFile(hFile.Get(), strBytes.data(), 3000, &cb, nullptr));
    }
    const std::wstring strDir = m_temp.Path();
    const std::wstring strAgent = L"\"" + strDir + L"\\Glimagent.exe\"";

    SVerbResult result = RegisterProduct(m_place, true);
    ASSERT_EQ(kExitDone, result.nExit) << result.strFailure;
    EXPECT_EQ(strAgent, ReadString(m_place.strRunKey, L"Glimagent"));
    EXPECT_EQ(L"<missing>", ReadString(m_place.strUninstallKey, L"DisplayName"))
        << "--run-only writes the Run value only";

    result = RegisterProduct(m_place, false);
    ASSERT_EQ(kExitDone, result.nExit) << result.strFailure;
    const struct {
        const wchar_t* pszName;
        std::wstring strValue;
    } strings[] = {
        {L"DisplayName", L"Glimkit"},
        {L"DisplayVersion", L"1.2.3"},
        {L"Publisher", L"Vessik"},
        {L"DisplayIcon", strAgent},
        {L"InstallLocation", strDir},
        // In place ("_?=" last): never as a copy in the temporary folder.
        {L"UninstallString", L"\"" + strDir + L"\\Uninstall.exe\" _?=" + strDir},
        {L"QuietUninstallString", L"\"" + strDir + L"\\Uninstall.exe\" /S _?=" + strDir},
    };
    for (const auto& value : strings) {
        EXPECT_EQ(value.strValue, ReadString(m_place.strUninstallKey, value.pszName));
    }
    EXPECT_EQ(1u, ReadDword(L"NoModify"));
    EXPECT_EQ(1u, ReadDword(L"NoRepair"));
    EXPECT_EQ(3u, ReadDword(L"EstimatedSize"));

    result = UnregisterProduct(m_place);
    EXPECT_EQ(kExitDone, result.nExit) << result.strFailure;
    EXPECT_EQ(L"<missing>", ReadString(m_place.strRunKey, L"Glimagent"));
    EXPECT_EQ(L"<missing>", ReadString(m_place.strUninstallKey, L"DisplayName"));
    // Nothing to remove is no failure.
    EXPECT_EQ(kExitDone, UnregisterProduct(m_place).nExit);
}

}  // namespace

// An uninstaller that ran in place left its own file to be deleted at the next restart; an
// install made before that restart cancels that deletion, and only that one, or its new
// uninstaller would go at the restart.
TEST(SetupHelperRegisterRule, DropsOnlyTheUninstallersPendingDeletion)
{
    const std::wstring strPath = L"C:\\Program Files (x86)\\Vessik\\Glimkit\\Uninstall.exe";
    const std::wstring strNt = L"\\??\\" + strPath;
    const struct {
        const char* pszCase;
        std::vector<std::wstring> operations;
        std::vector<std::wstring> expected;
    } cases[] = {
        {"none", {}, {}},
        {"its deletion alone", {strNt, L""}, {}},
        {"another case of the path", {L"\\??\\c:\\program files (x86)\\vessik\\glimkit\\UNINSTALL.EXE", L""}, {}},
        {"among others",
         {L"\\??\\C:\\a.tmp", L"", strNt, L"", L"\\??\\C:\\b.tmp", L"\\??\\C:\\c.tmp"},
         {L"\\??\\C:\\a.tmp", L"", L"\\??\\C:\\b.tmp", L"\\??\\C:\\c.tmp"}},
        {"a rename of it is kept", {strNt, L"\\??\\C:\\moved.exe"}, {strNt, L"\\??\\C:\\moved.exe"}},
        {"a rename onto it is kept", {L"\\??\\C:\\new.exe", strNt}, {L"\\??\\C:\\new.exe", strNt}},
        {"a file beside it is kept", {strNt + L".old", L""}, {strNt + L".old", L""}},
    };
    for (const auto& test : cases) {
        std::vector<std::wstring> operations = test.operations;
        const bool bDropped = DropPendingDeletion(&operations, strPath);
        EXPECT_EQ(test.expected, operations) << test.pszCase;
        EXPECT_EQ(test.expected.size() != test.operations.size(), bDropped) << test.pszCase;
    }
}

TEST_F(SetupHelperRegister, CancelsThePendingDeletionOfTheUninstaller)
{
    const std::wstring strOther = L"\\??\\C:\\other.tmp";
    const std::wstring strMine = L"\\??\\" + m_temp.File(L"Uninstall.exe");
    const std::wstring strData = strOther + L'\0' + L'\0' + strMine + L'\0' + L'\0' + L'\0';
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetKeyValueW(m_place.hRoot, m_place.strPendingKey.c_str(), L"PendingFileRenameOperations",
                              REG_MULTI_SZ, strData.data(), static_cast<DWORD>(strData.size() * sizeof(wchar_t))));

    SVerbResult result = RegisterProduct(m_place, false);
    ASSERT_EQ(kExitDone, result.nExit) << result.strFailure;
    EXPECT_TRUE(HasLine(result,
                        L"The deletion at the next restart of " + m_temp.File(L"Uninstall.exe") +
                            L" (left by an uninstall) is cancelled"));
    wchar_t szData[256] = {};
    DWORD cb = sizeof(szData);
    ASSERT_EQ(ERROR_SUCCESS,
              RegGetValueW(m_place.hRoot, m_place.strPendingKey.c_str(), L"PendingFileRenameOperations",
                           RRF_RT_REG_MULTI_SZ, nullptr, szData, &cb));
    EXPECT_EQ(strOther + L'\0' + L'\0' + L'\0', std::wstring(szData, cb / sizeof(wchar_t)));

    // The last one gone, the value goes.
    const std::wstring strOnlyMine = strMine + L'\0' + L'\0' + L'\0';
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetKeyValueW(m_place.hRoot, m_place.strPendingKey.c_str(), L"PendingFileRenameOperations",
                              REG_MULTI_SZ, strOnlyMine.data(),
                              static_cast<DWORD>(strOnlyMine.size() * sizeof(wchar_t))));
    result = RegisterProduct(m_place, false);
    ASSERT_EQ(kExitDone, result.nExit) << result.strFailure;
    EXPECT_EQ(static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND),
              RegGetValueW(m_place.hRoot, m_place.strPendingKey.c_str(), L"PendingFileRenameOperations", RRF_RT_ANY,
                           nullptr, nullptr, nullptr));
}
