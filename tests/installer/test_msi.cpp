// GlimkitSetup.msi run silently by msiexec in the test prefix, as a deployment tool runs it,
// and the product observed from outside: Windows Installer's own records, the service
// manager, the registry, the files and the settings. Every test leaves the prefix as it found
// it: the package is uninstalled, then whatever stays is removed without it.
#include <gtest/gtest.h>

#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <string>
#include <vector>

#include "AgentProcess.h"
#include "GlimNames.h"
#include "HostLink.h"
#include "InstalledProduct.h"
#include "LogTestUtil.h"
#include "Scm.h"
#include "ServiceHarness.h"
#include "SettingsFileTools.h"
#include "SimDriver.h"
#include "TempFolder.h"
#include "Wait.h"

namespace {

using namespace glimtest;

constexpr DWORD kMsiTimeoutMs = 180000;
constexpr DWORD kWaitMs = 15000;
constexpr const wchar_t* kVendorKey = L"Software\\Vessik\\Glimkit";
// Windows Installer's exit codes.
constexpr DWORD kInstallFailure = ERROR_INSTALL_FAILURE;           // 1603
constexpr DWORD kWineCustomActionFailure = ERROR_FUNCTION_FAILED;  // 1627

// An MSIHANDLE closed on every path.
class CMsiHandle {
public:
    CMsiHandle() = default;
    virtual ~CMsiHandle()
    {
        if (m_hMsi)
            MsiCloseHandle(m_hMsi);
    }
    CMsiHandle(const CMsiHandle&) = delete;
    CMsiHandle& operator=(const CMsiHandle&) = delete;

    MSIHANDLE Get() const { return m_hMsi; }
    MSIHANDLE* Put() { return &m_hMsi; }

private:
    MSIHANDLE m_hMsi = 0;
};

// A property of the package file as built; empty when it cannot be read.
std::wstring PackageProperty(const std::wstring& package, const wchar_t* pszName)
{
    CMsiHandle hDatabase;
    CMsiHandle hView;
    CMsiHandle hRecord;
    const std::wstring query = std::wstring(L"SELECT `Value` FROM `Property` WHERE `Property`='") + pszName + L"'";
    if (MsiOpenDatabaseW(package.c_str(), MSIDBOPEN_READONLY, hDatabase.Put()) != ERROR_SUCCESS ||
        MsiDatabaseOpenViewW(hDatabase.Get(), query.c_str(), hView.Put()) != ERROR_SUCCESS ||
        MsiViewExecute(hView.Get(), 0) != ERROR_SUCCESS || MsiViewFetch(hView.Get(), hRecord.Put()) != ERROR_SUCCESS)
        return std::wstring();
    wchar_t szValue[256] = {};
    DWORD cch = 256;
    return MsiRecordGetStringW(hRecord.Get(), 1, szValue, &cch) == ERROR_SUCCESS ? szValue : L"";
}

// The product codes Windows Installer has registered under the upgrade code.
std::vector<std::wstring> RelatedProducts(const std::wstring& upgradeCode)
{
    std::vector<std::wstring> codes;
    wchar_t szCode[39] = {};
    for (DWORD i = 0; MsiEnumRelatedProductsW(upgradeCode.c_str(), 0, i, szCode) == ERROR_SUCCESS; ++i)
        codes.push_back(szCode);
    return codes;
}

std::wstring InstalledVersion(const std::wstring& productCode)
{
    wchar_t szVersion[64] = {};
    DWORD cch = 64;
    return MsiGetProductInfoW(productCode.c_str(), INSTALLPROPERTY_VERSIONSTRING, szVersion, &cch) == ERROR_SUCCESS
        ? szVersion
        : L"";
}

// Runs msiexec with the arguments; returns its exit code (or a start error, never 0).
DWORD RunMsiexec(const std::wstring& arguments)
{
    wchar_t szSystem[MAX_PATH] = {};
    GetSystemDirectoryW(szSystem, MAX_PATH);
    DWORD dwExit = 0xdeadbeef;
    const DWORD dwErr = RunProgram(std::wstring(szSystem) + L"\\msiexec.exe", arguments, &dwExit, kMsiTimeoutMs);
    return dwErr == ERROR_SUCCESS ? dwExit : dwErr;
}

// A Windows Installer log: UTF-16 with a byte-order mark, or ANSI.
std::wstring ReadLog(const std::wstring& path)
{
    const std::string bytes = ReadBytes(path);
    if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE')
        return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / sizeof(wchar_t));
    std::wstring text(bytes.size(), L'\0');
    const int cch = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0],
                                        static_cast<int>(text.size()));
    text.resize(cch > 0 ? static_cast<size_t>(cch) : 0);
    return text;
}

// The settings file once the starting agent has written what it records there (its start
// writes the Undefine key first), then the same bytes on two reads a second apart.
std::string SettledSettings()
{
    WaitUntil([] { return ReadKey(glim::kKeyUndefine, L"missing") != L"missing"; }, kWaitMs);
    std::string last = ReadRawFile();
    WaitUntil(
        [&] {
            const std::string now = ReadRawFile();
            const bool bSettled = now == last;
            last = now;
            return bSettled;
        },
        kWaitMs, 1000);
    return last;
}

// The component codes of the package as built.
std::vector<std::wstring> PackageComponents(const std::wstring& package)
{
    std::vector<std::wstring> codes;
    CMsiHandle hDatabase;
    CMsiHandle hView;
    if (MsiOpenDatabaseW(package.c_str(), MSIDBOPEN_READONLY, hDatabase.Put()) != ERROR_SUCCESS ||
        MsiDatabaseOpenViewW(hDatabase.Get(), L"SELECT `ComponentId` FROM `Component`", hView.Put()) != ERROR_SUCCESS ||
        MsiViewExecute(hView.Get(), 0) != ERROR_SUCCESS)
        return codes;
    for (;;) {
        CMsiHandle hRecord;
        if (MsiViewFetch(hView.Get(), hRecord.Put()) != ERROR_SUCCESS)
            break;
        wchar_t szCode[64] = {};
        DWORD cch = 64;
        if (MsiRecordGetStringW(hRecord.Get(), 1, szCode, &cch) == ERROR_SUCCESS)
            codes.push_back(szCode);
    }
    return codes;
}

// A GUID "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" as Windows Installer writes it in the
// registry: the first three groups reversed, then each byte's two digits swapped.
std::wstring PackedGuid(const std::wstring& guid)
{
    std::wstring hex;
    for (wchar_t ch : guid) {
        if (ch != L'{' && ch != L'}' && ch != L'-')
            hex += ch;
    }
    if (hex.size() != 32)
        return std::wstring();
    std::wstring packed(hex.rbegin() + 24, hex.rend());
    packed.append(hex.rbegin() + 20, hex.rbegin() + 24);
    packed.append(hex.rbegin() + 16, hex.rbegin() + 20);
    for (size_t i = 16; i < 32; i += 2) {
        packed += hex[i + 1];
        packed += hex[i];
    }
    return packed;
}

// Uninstalls every product of the package's upgrade code with msiexec, so Windows Installer
// forgets it; CProductCleanup then removes whatever such an uninstall left. Wine's msiexec
// can lose a product's registration and keep its components' (an uninstall that failed): a
// later uninstall would then keep those components as shared, so their records go too.
void UninstallRelated(const std::wstring& upgradeCode, const std::wstring& package)
{
    for (const std::wstring& code : RelatedProducts(upgradeCode))
        RunMsiexec(L"/x " + code + L" /qn");
    for (const std::wstring& component : PackageComponents(package)) {
        const std::wstring key =
            L"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components\\" +
            PackedGuid(component);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());
    }
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kVendorKey);
}

// A top-level window with the agent's title in this test's own process, which never ends on
// the agent's exit command: the uninstall's stop cannot end it.
class CAgentLookalike {
public:
    CAgentLookalike()
    {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = kClass;
        RegisterClassW(&wc);
        m_hWnd = CreateWindowExW(0, kClass, glim::kAgentWindowTitle, WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                 wc.hInstance, nullptr);
    }
    virtual ~CAgentLookalike()
    {
        if (m_hWnd)
            DestroyWindow(m_hWnd);
        UnregisterClassW(kClass, GetModuleHandleW(nullptr));
    }
    CAgentLookalike(const CAgentLookalike&) = delete;
    CAgentLookalike& operator=(const CAgentLookalike&) = delete;

    bool Made() const { return m_hWnd != nullptr; }

private:
    static constexpr const wchar_t* kClass = L"GlimkitTestAgentLookalike";
    HWND m_hWnd = nullptr;
};

class Msi : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Exists(m_package)) << "GlimkitSetup.msi was not built (wixl missing)";
        ASSERT_TRUE(Exists(m_nextPackage)) << "the newer package for the upgrade was not built";
        m_upgradeCode = PackageProperty(m_package, L"UpgradeCode");
        m_productCode = PackageProperty(m_package, L"ProductCode");
        ASSERT_EQ(38u, m_upgradeCode.size()) << "no upgrade code in the package";
        ASSERT_EQ(38u, m_productCode.size()) << "no product code in the package";
        ASSERT_FALSE(m_log.Path().empty());
        ASSERT_TRUE(EnsureExplorer())
            << "Wine's explorer.exe did not start, so there is no user shell to start the agent in";
        UninstallRelated(m_upgradeCode, m_package);
        CProductCleanup::RemoveProduct();
    }

    void TearDown() override { UninstallRelated(m_upgradeCode, m_package); }

    // msiexec /i PACKAGE /qn with a verbose log; returns its exit code.
    DWORD Install(const std::wstring& package, const std::wstring& properties = L"")
    {
        return RunMsiexec(L"/i " + Quoted(package) + L" /qn /l*v " + Quoted(LogPath()) +
                          (properties.empty() ? L"" : L" " + properties));
    }

    // msiexec /x PRODUCTCODE /qn with a verbose log; returns its exit code.
    DWORD Uninstall(const std::wstring& productCode, const std::wstring& properties = L"")
    {
        return RunMsiexec(L"/x " + productCode + L" /qn /l*v " + Quoted(LogPath()) +
                          (properties.empty() ? L"" : L" " + properties));
    }

    std::wstring LogPath() const { return m_log.File(L"msiexec.log"); }
    std::wstring Log() const { return ReadLog(LogPath()); }

    // Nothing of the product is installed or registered.
    void ExpectNothingInstalled(const char* pszWhen) const
    {
        DWORD dwErr = 0;
        EXPECT_EQ(0u, ScmQueryState(glim::kServiceName, &dwErr)) << pszWhen;
        EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST), dwErr) << pszWhen;
        EXPECT_FALSE(Exists(InstallDir())) << pszWhen << ": the program folder stays";
        const std::wstring vendorDir = InstallDir().substr(0, InstallDir().find_last_of(L'\\'));
        EXPECT_FALSE(Exists(vendorDir)) << pszWhen << ": the vendor folder stays";
        EXPECT_TRUE(MachineString(kRunKey, kRunValue).empty()) << pszWhen;
        EXPECT_TRUE(MachineString(kVendorKey, L"MsiProductCode").empty()) << pszWhen;
        EXPECT_TRUE(RelatedProducts(m_upgradeCode).empty()) << pszWhen << ": Windows Installer still knows it";
    }

    // The product installed from the package with this product code and version.
    void ExpectInstalled(const std::wstring& productCode, const std::wstring& version) const
    {
        EXPECT_EQ(INSTALLSTATE_DEFAULT, MsiQueryProductStateW(productCode.c_str()));
        EXPECT_EQ(version, InstalledVersion(productCode));
        EXPECT_EQ(std::vector<std::wstring>{productCode}, RelatedProducts(m_upgradeCode));
        ExpectInPlace(productCode);
    }

    // The product's pieces on the machine, as the package with this product code puts them.
    static void ExpectInPlace(const std::wstring& productCode)
    {
        EXPECT_EQ(productCode, MachineString(kVendorKey, L"MsiProductCode"));
        ASSERT_NO_FATAL_FAILURE(ExpectServiceAsInstalled());
        for (size_t i = 0; i < 4; ++i)
            EXPECT_TRUE(Exists(InstalledFile(kInstalledProgramFiles[i]))) << kInstalledProgramFiles[i];
        EXPECT_EQ(Quoted(glim::kAgentProgramPath), MachineString(kRunKey, kRunValue));
    }

    const std::wstring m_package = BuildBinPath(L"GlimkitSetup.msi");
    const std::wstring m_nextPackage = BuildBinPath(L"..\\installer\\GlimkitSetup-next.msi");
    std::wstring m_upgradeCode;
    std::wstring m_productCode;
    CTempFolder m_log;
    // Removed after the product, whose service holds the simulated driver open.
    CSimDriverInstall m_driver;
    CProductCleanup m_cleanup;
};

}  // namespace

// A fresh install puts every piece in place under the package's product code; a newer package
// of the same upgrade code replaces it in place; the uninstall by product code removes all but
// the settings file.
TEST_F(Msi, InstallsUpgradesAndUninstallsKeepingTheSettings)
{
    ASSERT_EQ(0u, Install(m_package)) << Log();
    ASSERT_NO_FATAL_FAILURE(ExpectInstalled(m_productCode, GLIMKIT_TEST_VERSION));
    // The settings file is UTF-16, so the settings application's idle time keeps its unit.
    const std::string fresh = ReadRawFile();
    ASSERT_GE(fresh.size(), 2u);
    EXPECT_EQ("\xFF\xFE", fresh.substr(0, 2));
    ASSERT_TRUE(WriteKey(glim::kKeyInActiveTime, L"5分"));
    EXPECT_EQ(L"5分", ReadKey(glim::kKeyInActiveTime));
    // Started for the installing user by the user's shell, the one start that passes the
    // system's UI-access check.
    EXPECT_EQ(std::wstring(glim::kAgentProgramPath), AgentWindowImage()) << "no main instance of the installed agent";
    const std::wstring parent = ParentImageName(AgentWindowPid());
    EXPECT_EQ(0, lstrcmpiW(L"explorer.exe", parent.c_str())) << "the agent was started by " << parent;
    const std::string before = SettledSettings();
    const glim::CScopedHandle oldService(OpenProcess(SYNCHRONIZE, FALSE, ServiceProcessId(glim::kServiceName)));
    const glim::CScopedHandle oldAgent(OpenProcess(SYNCHRONIZE, FALSE, AgentWindowPid()));
    ASSERT_TRUE(oldService && oldAgent);

    const std::wstring nextCode = PackageProperty(m_nextPackage, L"ProductCode");
    ASSERT_NE(m_productCode, nextCode);
    ASSERT_EQ(PackageProperty(m_package, L"UpgradeCode"), PackageProperty(m_nextPackage, L"UpgradeCode"));
    ASSERT_EQ(0u, Install(m_nextPackage)) << Log();
    EXPECT_EQ(INSTALLSTATE_UNKNOWN, MsiQueryProductStateW(m_productCode.c_str())) << "the older product stays";
    ASSERT_NO_FATAL_FAILURE(ExpectInstalled(nextCode, GLIMKIT_TEST_NEXT_VERSION));
    EXPECT_TRUE(Ended(oldService) && Ended(oldAgent)) << "the upgrade left an old process running";
    EXPECT_TRUE(WaitUntil([] { return AgentWindowPid() != 0; }, kWaitMs)) << "no main instance after the upgrade";
    EXPECT_TRUE(WaitUntil([&] { return ReadRawFile() == before; }, 2000)) << "the upgrade changed the settings file";

    ASSERT_EQ(0u, Uninstall(nextCode)) << Log();
    ExpectNothingInstalled("after the uninstall");
    EXPECT_TRUE(WaitUntil([] { return CountAgentProcesses() == 0; }, 5000)) << "a Glimagent process stays";
    EXPECT_EQ(before, ReadRawFile()) << "the uninstall changed the settings file";
}

// An older package over a newer install refuses with 1603 and leaves the newer one in place.
TEST_F(Msi, AnOlderPackageDoesNotReplaceANewerOne)
{
    const std::wstring nextCode = PackageProperty(m_nextPackage, L"ProductCode");
    ASSERT_EQ(0u, Install(m_nextPackage)) << Log();
    EXPECT_EQ(kInstallFailure, Install(m_package)) << Log();
    ASSERT_NO_FATAL_FAILURE(ExpectInstalled(nextCode, GLIMKIT_TEST_NEXT_VERSION));
}

// PURGE=1 removes the settings file and the data folder with the programs.
TEST_F(Msi, PurgeRemovesTheSettings)
{
    ASSERT_EQ(0u, Install(m_package)) << Log();
    ASSERT_TRUE(Exists(FilePath()));
    ASSERT_EQ(0u, Uninstall(m_productCode, L"PURGE=1")) << Log();
    ExpectNothingInstalled("after the uninstall with PURGE=1");
    EXPECT_FALSE(Exists(FilePath())) << "PURGE=1 left the settings file";
    EXPECT_FALSE(Exists(FolderPath())) << "PURGE=1 left the data folder";
}

// Over the setup program's install the package refuses with 1603, names that program's
// uninstall command in its log and installs nothing.
TEST_F(Msi, RefusesOverTheSetupProgramsInstall)
{
    const std::wstring quiet = Quoted(InstalledFile(L"Uninstall.exe")) + L" /S";
    glim::CScopedKey hKey;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSetupProgramUninstallKey, 0, nullptr, 0,
                              KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, hKey.Put(), nullptr));
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExW(hKey.Get(), L"QuietUninstallString", 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(quiet.c_str()),
                             static_cast<DWORD>((quiet.size() + 1) * sizeof(wchar_t))));
    hKey.Reset();

    EXPECT_EQ(kInstallFailure, Install(m_package));
    const std::wstring log = Log();
    // Wine's log cuts a property's value at its second quote, so the command is looked for up
    // to there.
    EXPECT_NE(std::wstring::npos,
              log.find(L"Glimkit is installed by its setup program; uninstall it first with: \"" +
                       InstalledFile(L"Uninstall.exe")))
        << log;
    ExpectNothingInstalled("after the refusal");
}

// A step that fails rolls the whole install back. Here the setup helper finds a log file that
// is a link to a file elsewhere: Windows lets it remove such a link and go on, Wine shows the
// link as the file it leads to, so the helper fails and the install rolls back.
TEST_F(Msi, AFailedStepRollsTheInstallBack)
{
    CTempFolder target;
    const std::wstring outside = target.File(L"outside.txt");
    ASSERT_TRUE(WriteBytes(outside, "outside"));
    ASSERT_EQ(0u, EnsureFolder());
    const std::wstring serviceLog = FolderPath() + L"\\Service.log";
    ASSERT_TRUE(Make(serviceLog, outside)) << "no link could be made";
    const DWORD dwExit = Install(m_package);
    const bool bRemoved = !Exists(serviceLog) || Remove(serviceLog);
    EXPECT_EQ("outside", ReadBytes(outside)) << "the install wrote through the link";
    if (!UnderWine()) {
        EXPECT_EQ(0u, dwExit) << Log();
        EXPECT_TRUE(bRemoved);
        return;
    }
    // Windows Installer ends a run whose custom action failed with 1603; Wine's msiexec with
    // ERROR_FUNCTION_FAILED (1627).
    EXPECT_EQ(kWineCustomActionFailure, dwExit) << Log();
    ExpectNothingInstalled("after the rollback");
}

// A newer package whose step fails leaves the older product as it was on Windows, where the
// older product's removal is part of the install's transaction and is rolled back with it.
// Wine's msiexec removes the older product for good before the new install runs, so there
// the failed upgrade leaves neither product: that is what is checked under Wine.
TEST_F(Msi, AFailedUpgradeRollsBack)
{
    ASSERT_EQ(0u, Install(m_package)) << Log();
    const std::string settings = SettledSettings();
    CTempFolder target;
    const std::wstring outside = target.File(L"outside.txt");
    ASSERT_TRUE(WriteBytes(outside, "outside"));
    const std::wstring serviceLog = FolderPath() + L"\\Service.log";
    ASSERT_TRUE(!Exists(serviceLog) || DeleteFileW(serviceLog.c_str())) << GetLastError();
    ASSERT_TRUE(Make(serviceLog, outside)) << "no link could be made";
    const DWORD dwExit = Install(m_nextPackage);
    const bool bRemoved = !Exists(serviceLog) || Remove(serviceLog);
    EXPECT_TRUE(bRemoved);
    EXPECT_EQ("outside", ReadBytes(outside)) << "the upgrade wrote through the link";
    EXPECT_EQ(settings, ReadRawFile()) << "the failed upgrade changed the settings file";
    if (!UnderWine()) {
        EXPECT_EQ(0u, dwExit) << Log();
        return;
    }
    EXPECT_EQ(kWineCustomActionFailure, dwExit) << Log();
    EXPECT_EQ(INSTALLSTATE_UNKNOWN, MsiQueryProductStateW(PackageProperty(m_nextPackage, L"ProductCode").c_str()));
    ExpectNothingInstalled("after the failed upgrade under Wine");
}

// An uninstall whose stop fails (a window with the agent's title whose process does not end)
// fails and rolls back: the product's pieces stay, and the restore action starts again the
// service that the stop had stopped and the agent.
TEST_F(Msi, AFailedUninstallRestoresWhatRan)
{
    if (!UnderWine())
        GTEST_SKIP() << "Windows runs the stop as LocalSystem in session 0, where this session's windows are not seen";
    ASSERT_EQ(0u, Install(m_package)) << Log();
    ASSERT_NE(0u, AgentWindowPid());
    DWORD dwExit = 0;
    {
        CAgentLookalike lookalike;
        ASSERT_TRUE(lookalike.Made()) << GetLastError();
        dwExit = Uninstall(m_productCode);
    }
    EXPECT_EQ(kWineCustomActionFailure, dwExit) << Log();
    // Wine's msiexec unregisters the product before the uninstall's deferred steps and does not
    // register it again on rollback (Windows Installer does): the pieces are checked.
    ASSERT_NO_FATAL_FAILURE(ExpectInPlace(m_productCode));
    EXPECT_EQ(INSTALLSTATE_UNKNOWN, MsiQueryProductStateW(m_productCode.c_str()));
    EXPECT_TRUE(WaitUntil([] { return !ProcessesOf(glim::kAgentProgramPath).empty(); }, kWaitMs))
        << "no agent runs after the rollback";
}

// The installed system serves the hotkey: with the service and the agent the package started
// (the agent being the program its Run value names for every logon), a press through the
// simulated driver reaches the installed service and the agent advances the status.
TEST_F(Msi, TheInstalledSystemServesTheHotkey)
{
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), m_driver.Install());
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), Reset());
    ASSERT_EQ(0u, Install(m_package)) << Log();
    const std::wstring run = MachineString(kRunKey, kRunValue);
    ASSERT_EQ(Quoted(glim::kAgentProgramPath), run);
    EXPECT_EQ(std::wstring(glim::kAgentProgramPath), AgentWindowImage()) << "the package started no agent";
    ASSERT_TRUE(
        WaitUntil([] { return EventExists(glim::kEventHotkey) && EventExists(glim::kEventHostStatusChange); }, kWaitMs))
        << "the service or the agent's main instance does not listen";
    ASSERT_EQ(kStatusSuccess, Press());
    EXPECT_TRUE(WaitUntil([] { return ReadNumber(glim::kKeyKBStatus, 99) == 1; }, kWaitMs))
        << "the press did not reach the agent: KBStatus " << ReadNumber(glim::kKeyKBStatus, 99);
}
