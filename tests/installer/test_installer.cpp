// GlimkitSetup.exe run silently in the test prefix, as a Windows user or a deployment tool
// runs it, and the product observed from outside: the service manager, the registry, the
// files, the processes, the temporary folder, and a hotkey press through the simulated driver.
// The prefix is left as it was found on every path: the service, the programs, the registry
// entries, the agents, the settings file and the logs of the installer go away again.
#include <gtest/gtest.h>

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "AgentProcess.h"
#include "DataFolderRights.h"
#include "FolderWatch.h"
#include "InstallLayout.h"
#include "ProgramFiles.h"
#include "GlimNames.h"
#include "HostLink.h"
#include "InstalledProduct.h"
#include "LogTestUtil.h"
#include "Scm.h"
#include "ScopedHandle.h"
#include "ServiceHarness.h"
#include "SettingsFileTools.h"
#include "SimDriver.h"
#include "TempFolder.h"

namespace {

using glimtest::AgentWindowImage;
using glimtest::AgentWindowPid;
using glimtest::CountAgentProcesses;
using glimtest::CProductCleanup;
using glimtest::Ended;
using glimtest::Exists;
using glimtest::FolderNames;
using glimtest::InstalledFile;
using glimtest::kRunKey;
using glimtest::kRunValue;
using glimtest::MachineKeyExists;
using glimtest::MachineString;
using glimtest::ParentImageName;
using glimtest::PendingOperationsIn;
using glimtest::Quoted;

const wchar_t* const kUninstallKey = glimtest::kSetupProgramUninstallKey;
const auto& kProgramFiles = glimtest::kInstalledProgramFiles;

constexpr DWORD kSetupTimeoutMs = 120000;
constexpr DWORD kWaitMs = 15000;
// The setup program's logs, kept in the program folder.
constexpr const wchar_t* kSetupLog = L"GlimkitSetup.log";
constexpr const wchar_t* kUninstallLog = L"GlimkitUninstall.log";

// The owner and the access list of a file or folder in SDDL, the protected flag included;
// empty when they cannot be read.
std::wstring OwnerAndDacl(const std::wstring& path)
{
    glim::CScopedLocalMemory pSd;
    constexpr SECURITY_INFORMATION kWhat = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, kWhat, nullptr, nullptr, nullptr, nullptr, pSd.Put()) !=
        ERROR_SUCCESS)
        return std::wstring();
    wchar_t* pszSddl = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(
            pSd.Get(), SDDL_REVISION_1, kWhat | PROTECTED_DACL_SECURITY_INFORMATION, &pszSddl, nullptr))
        return std::wstring();
    const glim::CScopedLocalMemory sddl(pszSddl);
    return pszSddl;
}

bool IsLink(const std::wstring& path)
{
    const DWORD dwAttributes = GetFileAttributesW(path.c_str());
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// The file's identity and its number of names; {0, 0} when it cannot be opened.
std::pair<ULONGLONG, DWORD> FileIdAndLinks(const std::wstring& path)
{
    const glim::CScopedFile hFile(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, 0, nullptr));
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!hFile || !GetFileInformationByHandle(hFile.Get(), &info))
        return {0, 0};
    return {(static_cast<ULONGLONG>(info.nFileIndexHigh) << 32) | info.nFileIndexLow, info.nNumberOfLinks};
}

// Links a test plants in the data folders, removed on every path (Wine cannot remove a host
// link to a folder itself, so the test does).
class CPlantedLinks {
public:
    CPlantedLinks() = default;
    virtual ~CPlantedLinks()
    {
        // A folder that the installer made in place of a link is not removed.
        for (const std::wstring& link : m_links)
            glimtest::Remove(link);
    }
    CPlantedLinks(const CPlantedLinks&) = delete;
    CPlantedLinks& operator=(const CPlantedLinks&) = delete;

    bool Make(const std::wstring& link, const std::wstring& target)
    {
        m_links.push_back(link);
        return glimtest::Make(link, target);
    }

private:
    std::vector<std::wstring> m_links;
};

class Installer : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Exists(glimtest::BuildBinPath(L"GlimkitSetup.exe")))
            << "Installer: GlimkitSetup.exe was not built (makensis missing)";
        ASSERT_TRUE(glimtest::EnsureExplorer())
            << "Installer: Wine's explorer.exe did not start, so there is no user shell to start the agent in";
    }

    // Runs the installer silently; returns its exit code (or a start error, never 0).
    static DWORD RunSetup()
    {
        DWORD dwExit = 0xdeadbeef;
        const DWORD dwErr =
            glimtest::RunProgram(glimtest::BuildBinPath(L"GlimkitSetup.exe"), L"/S", &dwExit, kSetupTimeoutMs);
        return dwErr == ERROR_SUCCESS ? dwExit : dwErr;
    }

    // Runs the installed uninstaller silently with the given options and returns its exit
    // code. A copy outside the install folder runs in place ("_?="), the way the uninstaller
    // itself relaunches from the temp folder, so the result is the uninstall's own.
    static DWORD RunUninstall(const std::wstring& options)
    {
        glimtest::CTempFolder temp;
        const std::wstring copy = temp.Path() + L"\\Uninstall.exe";
        if (temp.Path().empty())
            return static_cast<DWORD>(ERROR_PATH_NOT_FOUND);
        if (!CopyFileW(InstalledFile(L"Uninstall.exe").c_str(), copy.c_str(), FALSE))
            return GetLastError();
        DWORD dwExit = 0xdeadbeef;
        const DWORD dwErr =
            glimtest::RunProgram(copy, L"/S " + options + L" _?=" + glimtest::InstallDir(), &dwExit, kSetupTimeoutMs);
        return dwErr == ERROR_SUCCESS ? dwExit : dwErr;
    }

    // Runs a command line as Apps & features or a deployment tool does (a quoted program, then
    // its arguments) and returns its exit code, or a start error (never 0).
    static DWORD RunCommandLine(const std::wstring& commandLine)
    {
        const size_t nEnd =
            commandLine.size() > 1 && commandLine[0] == L'"' ? commandLine.find(L'"', 1) : std::wstring::npos;
        if (nEnd == std::wstring::npos)
            return static_cast<DWORD>(ERROR_BAD_FORMAT);
        const size_t nArgs = commandLine.find_first_not_of(L' ', nEnd + 1);
        DWORD dwExit = 0xdeadbeef;
        const DWORD dwErr = glimtest::RunProgram(commandLine.substr(1, nEnd - 1),
                                                 nArgs == std::wstring::npos ? L"" : commandLine.substr(nArgs), &dwExit,
                                                 kSetupTimeoutMs);
        return dwErr == ERROR_SUCCESS ? dwExit : dwErr;
    }

    static std::wstring Log(const wchar_t* pszName)
    {
        // The installer writes its logs in UTF-16.
        const std::string bytes = glimtest::ReadBytes(InstalledFile(pszName));
        return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    }

    // Waits until the installed service and the agent's main instance listen.
    static void WaitUntilListening()
    {
        ASSERT_TRUE(glimtest::WaitUntil(
            [] {
                return glimtest::EventExists(glim::kEventHotkey) && glimtest::EventExists(glim::kEventHostStatusChange);
            },
            kWaitMs))
            << "the service or the agent's main instance does not listen";
    }

    glimtest::CSimDriverInstall m_driver;
    CProductCleanup m_cleanup;
};

}  // namespace

// A fresh install puts every piece in place, and the installed product serves the hotkey:
// a press through the simulated driver advances the status the agent keeps. An upgrade over
// the running product replaces both processes and leaves the settings alone; the uninstall
// removes all but the settings file.
TEST_F(Installer, InstallsRunsUpgradesAndUninstallsKeepingTheSettings)
{
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), m_driver.Install());
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), glimtest::Reset());

    ASSERT_EQ(0u, RunSetup()) << Log(L"GlimkitSetup.log");
    ASSERT_NO_FATAL_FAILURE(glimtest::ExpectServiceAsInstalled());
    for (const wchar_t* pszName : kProgramFiles)
        EXPECT_TRUE(Exists(InstalledFile(pszName))) << pszName;
    EXPECT_EQ(Quoted(glim::kAgentProgramPath), MachineString(kRunKey, kRunValue));
    struct {
        const wchar_t* pszValue;
        std::wstring expected;
    } const entries[] = {
        {L"DisplayName", glim::kProductName},
        {L"Publisher", glim::kPublisher},
        // The uninstaller runs in place, not as a copy in the temporary folder.
        {L"UninstallString", Quoted(InstalledFile(L"Uninstall.exe")) + L" _?=" + glimtest::InstallDir()},
        {L"QuietUninstallString", Quoted(InstalledFile(L"Uninstall.exe")) + L" /S _?=" + glimtest::InstallDir()},
    };
    for (const auto& entry : entries)
        EXPECT_EQ(entry.expected, MachineString(kUninstallKey, entry.pszValue)) << entry.pszValue;
    EXPECT_EQ(GLIMKIT_TEST_VERSION, MachineString(kUninstallKey, L"DisplayVersion")) << "the build's version";
    EXPECT_EQ(std::wstring(GLIMKIT_TEST_VERSION) + L".0", glimctl::FileVersion(InstalledFile(glim::kUninstallerFile)))
        << "the uninstaller the setup wrote carries the build's version";
    DWORD dwSizeKb = 0;
    DWORD cb = sizeof(dwSizeKb);
    EXPECT_EQ(
        ERROR_SUCCESS,
        RegGetValueW(HKEY_LOCAL_MACHINE, kUninstallKey, L"EstimatedSize", RRF_RT_REG_DWORD, nullptr, &dwSizeKb, &cb));
    EXPECT_GT(dwSizeKb, 1000u) << "both programs together take more than a megabyte";

    // The settings file is UTF-16, so the settings application's idle time keeps its unit.
    const std::string fresh = glimtest::ReadRawFile();
    ASSERT_GE(fresh.size(), 2u);
    EXPECT_EQ("\xFF\xFE", fresh.substr(0, 2));
    const std::string section(reinterpret_cast<const char*>(L"[Glimkit]"), 9 * sizeof(wchar_t));
    EXPECT_NE(std::string::npos, fresh.find(section));
    ASSERT_TRUE(glimtest::WriteKey(glim::kKeyInActiveTime, L"5分"));
    EXPECT_EQ(L"5分", glimtest::ReadKey(glim::kKeyInActiveTime));
    ASSERT_TRUE(glimtest::WriteKey(glim::kKeyInActiveTime, L""));

    EXPECT_EQ(std::wstring(glim::kAgentProgramPath), AgentWindowImage()) << "no main instance of the installed agent";
    // Started by the user's shell, the one start that passes the system's UI-access check.
    const std::wstring parent = ParentImageName(AgentWindowPid());
    EXPECT_EQ(0, lstrcmpiW(L"explorer.exe", parent.c_str())) << "the agent was started by " << parent;
    ASSERT_NO_FATAL_FAILURE(WaitUntilListening());
    // The agent writes through the private-profile calls, which rewrite the file in place
    // (same file, so its rights stay), as Users' read and write rights without delete allow.
    const auto settingsId = FileIdAndLinks(glimtest::FilePath());
    ASSERT_EQ(glimtest::kStatusSuccess, glimtest::Press());
    EXPECT_TRUE(glimtest::WaitUntil([] { return glimtest::ReadNumber(glim::kKeyKBStatus, 99) == 1; }, kWaitMs))
        << "the press did not reach the agent: KBStatus " << glimtest::ReadNumber(glim::kKeyKBStatus, 99);
    EXPECT_EQ(settingsId, FileIdAndLinks(glimtest::FilePath())) << "the settings file was replaced";

    // Upgrade in place, over the running service and main instance.
    const glim::CScopedHandle oldService(
        OpenProcess(SYNCHRONIZE, FALSE, glimtest::ServiceProcessId(glim::kServiceName)));
    const glim::CScopedHandle oldAgent(OpenProcess(SYNCHRONIZE, FALSE, AgentWindowPid()));
    ASSERT_TRUE(oldService && oldAgent);
    // Status On: the agent records the level it set (KBBrightness, 10 by default) once.
    ASSERT_TRUE(
        glimtest::WaitUntil([] { return glimtest::ReadNumber(glim::kKeyCurrentKBBrightness, 0) == 10; }, kWaitMs));
    const std::string before = glimtest::ReadRawFile();
    ASSERT_EQ(0u, RunSetup()) << Log(L"GlimkitSetup.log");
    EXPECT_TRUE(Ended(oldService) && Ended(oldAgent)) << "the upgrade left an old process running";
    // The kept registration gets the failure actions flag as the install verb sets it; Wine's
    // manager does not know it (error 124), Windows' sets it.
    const std::wstring setupLog = Log(L"GlimkitSetup.log");
    EXPECT_TRUE(setupLog.find(L"The failure actions flag is set") != std::wstring::npos ||
                setupLog.find(L"The failure actions flag could not be set (error 124)") != std::wstring::npos)
        << setupLog;
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), glimtest::ScmQueryState(glim::kServiceName));
    EXPECT_NE(0u, AgentWindowPid()) << "no main instance after the upgrade";
    EXPECT_TRUE(glimtest::WaitUntil([&] { return glimtest::ReadRawFile() == before; }, 2000))
        << "the upgrade changed the settings file";

    ASSERT_EQ(0u, RunUninstall(L"")) << Log(L"GlimkitUninstall.log");
    DWORD dwErr = 0;
    EXPECT_EQ(0u, glimtest::ScmQueryState(glim::kServiceName, &dwErr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST), dwErr);
    EXPECT_EQ(std::vector<std::wstring>{kUninstallLog}, FolderNames(glimtest::InstallDir()))
        << "the program folder keeps more than the uninstall's log";
    EXPECT_TRUE(MachineString(kRunKey, kRunValue).empty());
    EXPECT_FALSE(MachineKeyExists(kUninstallKey));
    EXPECT_TRUE(glimtest::WaitUntil([] { return CountAgentProcesses() == 0; }, 5000)) << "a Glimagent process stays";
    EXPECT_EQ(before, glimtest::ReadRawFile()) << "the uninstall changed the settings file";
}

// A settings file that exists already (here ANSI, as the programs create one) is kept byte for
// byte; the uninstaller's /PURGE removes it, and the data folder once it is empty.
TEST_F(Installer, KeepsAnExistingSettingsFileAndPurgeRemovesIt)
{
    // Values the agent's own start writes again unchanged: status Off records level 0.
    const std::string ansi = "[Glimkit]\r\nKBStatus=0\r\nKBBrightness=7\r\nCurrentKBBrightness=0\r\nUndefine=\r\n";
    ASSERT_EQ(0u, glimtest::EnsureFolder());
    ASSERT_TRUE(glimtest::WriteBytes(glimtest::FilePath(), ansi));

    ASSERT_EQ(0u, RunSetup()) << Log(L"GlimkitSetup.log");
    EXPECT_NE(0u, AgentWindowPid());
    EXPECT_EQ(ansi, glimtest::ReadRawFile());

    // /PURGE deletes the product's own files and never follows a link someone put beside them.
    glimtest::CTempFolder target;
    ASSERT_TRUE(glimtest::WriteBytes(target.Path() + L"\\keep.txt", "keep"));
    const std::wstring link = glimtest::FolderPath() + L"\\linked";
    CPlantedLinks links;
    ASSERT_TRUE(links.Make(link, target.Path()));
    const DWORD dwExit = RunUninstall(L"/PURGE");
    EXPECT_EQ("keep", glimtest::ReadBytes(target.Path() + L"\\keep.txt")) << "/PURGE deleted through a link";
    ASSERT_EQ(0u, dwExit) << Log(L"GlimkitUninstall.log");
    EXPECT_FALSE(Exists(glimtest::FilePath())) << "/PURGE left the settings file";
    EXPECT_NE(std::wstring::npos, Log(L"GlimkitUninstall.log").find(L"  kept: linked")) << Log(L"GlimkitUninstall.log");
    EXPECT_EQ(std::vector<std::wstring>{kUninstallLog}, FolderNames(glimtest::InstallDir()));
    ASSERT_TRUE(glimtest::Remove(link));
    EXPECT_TRUE(RemoveDirectoryW(glimtest::FolderPath().c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND);
}

// A program file that is in use cannot be replaced: the install stops with a non-zero exit code
// and says why in its log, instead of reporting a half-done install as done.
TEST_F(Installer, AProgramFileInUseFailsTheInstallWithALoggedError)
{
    const std::wstring locked = InstalledFile(L"Glimagent.exe");
    ASSERT_EQ(ERROR_SUCCESS, SHCreateDirectoryExW(nullptr, glimtest::InstallDir().c_str(), nullptr));
    glim::CScopedFile hFile(CreateFileW(locked.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(hFile);
    const DWORD dwExit = RunSetup();
    hFile.Reset();
    EXPECT_EQ(2u, dwExit);
    EXPECT_NE(std::wstring::npos, Log(L"GlimkitSetup.log").find(L"ERROR: " + locked + L" is in use"))
        << Log(L"GlimkitSetup.log");
    EXPECT_EQ(0u, glimtest::ScmQueryState(glim::kServiceName)) << "the failed install went on to the service";
}

// The data folders and the settings file carry exactly the rights of the reference header,
// owned by Administrators: Users read the folders and read and write the settings file's
// data, and may create, delete or re-grant nothing.
TEST_F(Installer, ProtectsTheDataFoldersAndTheSettingsFile)
{
    if (glimtest::UnderWine())
        GTEST_SKIP() << "Wine keeps no access list for a file or folder here: it reports one made from the Unix "
                        "mode (SYSTEM, owner, Everyone read) and accepts a new one without keeping it";
    ASSERT_EQ(0u, RunSetup()) << Log(L"GlimkitSetup.log");
    const std::wstring folder = glimtest::FolderPath();
    const std::wstring owner = L"O:BA";
    for (const std::wstring& path : {folder.substr(0, folder.find_last_of(L'\\')), folder})
        EXPECT_EQ(0, _wcsicmp((owner + glim::kDataFolderSddl).c_str(), OwnerAndDacl(path).c_str()))
            << OwnerAndDacl(path);
    EXPECT_EQ(0, _wcsicmp((owner + glim::kSettingsFileSddl).c_str(), OwnerAndDacl(glimtest::FilePath()).c_str()))
        << OwnerAndDacl(glimtest::FilePath());
}

// A user could plant links where the elevated installer writes. A link there is removed
// itself and the file or folder made afresh; what the system follows even when asked not to (a
// host link under Wine) is left alone and stops the run. Either way nothing is written where
// a link leads. A settings file that is a second name of another file is removed itself. Wine
// keeps no access list, so the rights are seen in the log (the same text as the reference
// header) and on Windows by the test above.
TEST_F(Installer, LinksPlantedInTheDataFolderAreRemovedNotFollowed)
{
    const std::wstring folder = glimtest::FolderPath();
    const bool bFollowed = glimtest::UnderWine();
    glimtest::CTempFolder target;
    ASSERT_FALSE(target.Path().empty());
    const std::wstring outsideFile = target.Path() + L"\\outside.txt";
    ASSERT_TRUE(glimtest::WriteBytes(outsideFile, "outside"));
    ASSERT_EQ(0u, glimtest::EnsureFolder());
    ASSERT_TRUE(RemoveDirectoryW(folder.c_str())) << GetLastError();
    {
        CPlantedLinks links;
        ASSERT_TRUE(links.Make(folder, target.Path())) << "no link could be made";
        const DWORD dwExit = RunSetup();
        const std::wstring log = Log(L"GlimkitSetup.log");
        EXPECT_FALSE(Exists(target.Path() + L"\\Glimkit.ini")) << "the settings file was written through the link";
        EXPECT_EQ("outside", glimtest::ReadBytes(outsideFile));
        if (bFollowed) {
            EXPECT_EQ(2u, dwExit);
            EXPECT_NE(std::wstring::npos, log.find(L"ERROR: " + folder + L" leads to another place")) << log;
        } else {
            EXPECT_EQ(0u, dwExit) << log;
            EXPECT_NE(std::wstring::npos, log.find(folder + L" is a link folder: removing it without following it"))
                << log;
            EXPECT_FALSE(IsLink(folder));
        }
    }

    // A settings file that is a second name of the outside file, and a Service.log that links
    // to it.
    ASSERT_EQ(0u, glimtest::EnsureFolder());
    ASSERT_EQ(0u, glimtest::RemoveFile());
    ASSERT_TRUE(CreateHardLinkW(glimtest::FilePath().c_str(), outsideFile.c_str(), nullptr));
    const std::wstring serviceLog = folder + L"\\Service.log";
    CPlantedLinks links;
    ASSERT_TRUE(links.Make(serviceLog, outsideFile));
    const DWORD dwExit = RunSetup();
    const std::wstring log = Log(L"GlimkitSetup.log");
    EXPECT_EQ(1u, FileIdAndLinks(glimtest::FilePath()).second) << "the settings file is still a hard link";
    EXPECT_NE(FileIdAndLinks(outsideFile).first, FileIdAndLinks(glimtest::FilePath()).first);
    EXPECT_EQ("outside", glimtest::ReadBytes(outsideFile));
    EXPECT_NE(std::wstring::npos, log.find(L"Rights of " + folder + L": O:BA" + glim::kDataFolderSddl)) << log;
    EXPECT_NE(std::wstring::npos, log.find(L"Rights of " + glimtest::FilePath() + L": O:BA" + glim::kSettingsFileSddl))
        << log;
    if (bFollowed) {
        EXPECT_EQ(2u, dwExit);
        EXPECT_NE(std::wstring::npos, log.find(L"ERROR: " + serviceLog + L" leads to another place")) << log;
    } else {
        EXPECT_EQ(0u, dwExit) << log;
        EXPECT_FALSE(Exists(serviceLog)) << "the linked Service.log stays";
    }
}

// An upgrade that cannot replace a program file (held by another process, as another user's
// agent would) fails with its error and leaves the service and the agent running as before;
// an uninstall that cannot remove one removes nothing and starts the service again.
TEST_F(Installer, AFileInUseLeavesTheInstalledProductAsItWas)
{
    ASSERT_EQ(0u, RunSetup()) << Log(L"GlimkitSetup.log");
    ASSERT_NE(0u, AgentWindowPid());
    const std::wstring held = InstalledFile(L"Glimagent.exe");
    glim::CScopedFile hHeld(
        CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(hHeld) << GetLastError();

    EXPECT_EQ(2u, RunSetup());
    EXPECT_NE(std::wstring::npos, Log(L"GlimkitSetup.log").find(L"ERROR: " + held + L" is in use"))
        << Log(L"GlimkitSetup.log");
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), glimtest::ScmQueryState(glim::kServiceName));
    EXPECT_TRUE(glimtest::WaitUntil([] { return AgentWindowPid() != 0; }, kWaitMs)) << "the agent was not restored";

    EXPECT_EQ(2u, RunUninstall(L"/PURGE"));
    EXPECT_NE(std::wstring::npos, Log(L"GlimkitUninstall.log").find(L"ERROR: " + held + L" is in use"))
        << Log(L"GlimkitUninstall.log");
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), glimtest::ScmQueryState(glim::kServiceName));
    for (const wchar_t* pszName : kProgramFiles)
        EXPECT_TRUE(Exists(InstalledFile(pszName))) << pszName;
    EXPECT_EQ(Quoted(glim::kAgentProgramPath), MachineString(kRunKey, kRunValue));
    EXPECT_TRUE(MachineKeyExists(kUninstallKey));
    EXPECT_TRUE(Exists(glimtest::FilePath()));
}

// Nothing that runs is put into the temporary folder during a silent install and the uninstall
// Apps & features starts (its QuietUninstallString): no plug-in DLL and no copy of the
// uninstaller, which a user who can write there (C:\Windows\Temp for a deployment tool running
// as SYSTEM) could replace or plant beside. The watch first proves that it sees a DLL that lives
// only a moment in a fresh subfolder, as an extracted plug-in does, and at the end sees a second
// one, so every change before it was seen.
TEST_F(Installer, PutsNoProgramIntoTheTemporaryFolder)
{
    const std::wstring temp = glimtest::TempFolderPath();
    ASSERT_FALSE(temp.empty());
    glimtest::CFolderWatch watch;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), watch.Start(temp));
    const auto placeSentinel = [](const wchar_t* pszName) {
        glimtest::CTempFolder folder;
        const std::wstring file = folder.File(pszName);
        return !folder.Path().empty() && glimtest::WriteBytes(file, "MZ") && DeleteFileW(file.c_str());
    };
    ASSERT_TRUE(placeSentinel(L"first-sentinel.dll"));
    ASSERT_TRUE(watch.WaitFor(L"\\first-sentinel.dll", kWaitMs))
        << "the watch does not see a short-lived DLL in a new subfolder of " << temp;
    const size_t nFrom = watch.Names().size();

    ASSERT_EQ(0u, RunSetup()) << Log(kSetupLog);
    const std::wstring uninstall = MachineString(kUninstallKey, L"QuietUninstallString");
    ASSERT_FALSE(uninstall.empty());
    EXPECT_EQ(0u, RunCommandLine(uninstall)) << Log(kUninstallLog);
    // An uninstaller that copies itself away returns at once: its copy is done once the entry goes.
    EXPECT_TRUE(glimtest::WaitUntil([] { return !MachineKeyExists(kUninstallKey); }, kSetupTimeoutMs))
        << "the uninstall did not end";
    EXPECT_TRUE(glimtest::WaitUntil([] { return !Exists(InstalledFile(L"Glimward.exe")); }, kWaitMs));

    ASSERT_TRUE(placeSentinel(L"last-sentinel.dll"));
    ASSERT_TRUE(watch.WaitFor(L"\\last-sentinel.dll", kWaitMs)) << "the watch stopped seeing changes";
    std::vector<std::wstring> programs = watch.NamesEndingWith({L".dll", L".exe"}, nFrom);
    programs.erase(std::remove_if(programs.begin(), programs.end(),
                                  [](const std::wstring& name) {
                                      return name.size() >= 17 &&
                                          name.compare(name.size() - 17, 17, L"last-sentinel.dll") == 0;
                                  }),
                   programs.end());
    std::wstring seen;
    for (const std::wstring& name : programs)
        seen += L"\n  " + temp + L"\\" + name;
    EXPECT_TRUE(programs.empty()) << "programs appeared in the temporary folder:" << seen;
    // The uninstaller, run in place, cannot delete its own file: it goes at the next restart, and
    // then only the log stays.
    std::vector<std::wstring> left = FolderNames(glimtest::InstallDir());
    if (std::find(left.begin(), left.end(), L"Uninstall.exe") != left.end()) {
        EXPECT_EQ(std::vector<std::wstring>{InstalledFile(L"Uninstall.exe")},
                  PendingOperationsIn(glimtest::InstallDir(), false))
            << Log(kUninstallLog);
        left.erase(std::find(left.begin(), left.end(), L"Uninstall.exe"));
    }
    EXPECT_EQ(std::vector<std::wstring>{kUninstallLog}, left);
    // An install before that restart keeps its own new uninstaller.
    ASSERT_EQ(0u, RunSetup()) << Log(kSetupLog);
    EXPECT_EQ(std::vector<std::wstring>{}, PendingOperationsIn(glimtest::InstallDir(), true)) << Log(kSetupLog);
}

// One product per machine: over an install by the Windows Installer package the setup program
// refuses, names the command that removes that install, and changes nothing.
TEST_F(Installer, RefusesOverTheWindowsInstallerPackagesInstall)
{
    constexpr const wchar_t* kProductKey = L"Software\\Vessik\\Glimkit";
    constexpr const wchar_t* kCode = L"{6F1C2B1E-3D0A-4A7B-9C55-2E8D4F0B7A11}";
    struct CPackageRecord {
        CPackageRecord()
        {
            RegSetKeyValueW(HKEY_LOCAL_MACHINE, kProductKey, L"MsiProductCode", REG_SZ, kCode,
                            static_cast<DWORD>((lstrlenW(kCode) + 1) * sizeof(wchar_t)));
        }
        virtual ~CPackageRecord()
        {
            RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kProductKey, L"MsiProductCode");
            RegDeleteKeyW(HKEY_LOCAL_MACHINE, kProductKey);
            RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\Vessik");
        }
    } const record;
    ASSERT_EQ(std::wstring(kCode), MachineString(kProductKey, L"MsiProductCode"));

    EXPECT_EQ(2u, RunSetup());
    EXPECT_NE(std::wstring::npos,
              Log(kSetupLog).find(L"ERROR: Glimkit is installed here by its Windows Installer "
                                  L"package; remove it first with: msiexec /x " +
                                  std::wstring(kCode)))
        << Log(kSetupLog);
    EXPECT_EQ(0u, glimtest::ScmQueryState(glim::kServiceName));
    for (const wchar_t* pszName : kProgramFiles)
        EXPECT_FALSE(Exists(InstalledFile(pszName))) << pszName;
    EXPECT_FALSE(MachineKeyExists(kUninstallKey));
}
