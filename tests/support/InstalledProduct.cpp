#include "InstalledProduct.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <algorithm>
#include <vector>

#include "AgentProcess.h"
#include "GlimNames.h"
#include "InstallLayout.h"
#include "LogTestUtil.h"
#include "Scm.h"
#include "ServiceHarness.h"
#include "SettingsFileTools.h"
#include "TempFolder.h"
#include "Wait.h"

namespace glimtest {

const wchar_t* const kRunKey = glim::kRunKey;
const wchar_t* const kRunValue = glim::kRunValue;
const wchar_t* const kSetupProgramUninstallKey = glim::kUninstallKey;
const wchar_t* const kInstalledProgramFiles[5] = {glim::kServiceProgramFile, glim::kAgentProgramFile,
                                                  glim::kCtlProgramFile, glim::kSetupHelperFile,
                                                  glim::kUninstallerFile};

std::wstring InstalledFile(const wchar_t* pszName)
{
    return InstallDir() + L"\\" + pszName;
}

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The names in a folder, sorted; empty when it is missing or empty.
std::vector<std::wstring> FolderNames(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data = {};
    const HANDLE hFind = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (hFind == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (lstrcmpW(data.cFileName, L".") != 0 && lstrcmpW(data.cFileName, L"..") != 0)
            names.emplace_back(data.cFileName);
    } while (FindNextFileW(hFind, &data));
    FindClose(hFind);
    std::sort(names.begin(), names.end());
    return names;
}

// The sources of the deletions and renames at the next restart that lie in the folder (NT
// paths, "\\??\\C:\\..."), removed with bRemove: the test prefix restarts, so none may stay
// to delete a later test's files.
std::vector<std::wstring> PendingOperationsIn(const std::wstring& folder, bool bRemove)
{
    constexpr const wchar_t* kKey = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
    constexpr const wchar_t* kValue = L"PendingFileRenameOperations";
    std::vector<std::wstring> taken;
    glim::CScopedKey hKey;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, hKey.Put()) != ERROR_SUCCESS)
        return taken;
    DWORD cb = 0;
    if (RegQueryValueExW(hKey.Get(), kValue, nullptr, nullptr, nullptr, &cb) != ERROR_SUCCESS || cb == 0)
        return taken;
    std::vector<wchar_t> data(cb / sizeof(wchar_t) + 2, L'\0');
    if (RegQueryValueExW(hKey.Get(), kValue, nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()), &cb) !=
        ERROR_SUCCESS)
        return taken;
    // Pairs of strings: the source, then the destination (empty for a deletion).
    std::vector<std::wstring> strings;
    for (const wchar_t* p = data.data(); p < data.data() + cb / sizeof(wchar_t); p += lstrlenW(p) + 1)
        strings.emplace_back(p);
    while (!strings.empty() && strings.back().empty() && strings.size() % 2 != 0)
        strings.pop_back();
    const std::wstring prefix = L"\\??\\" + folder + L"\\";
    std::wstring kept;
    for (size_t i = 0; i + 1 < strings.size(); i += 2) {
        if (_wcsnicmp(strings[i].c_str(), prefix.c_str(), prefix.size()) == 0) {
            taken.push_back(strings[i].substr(4));
            continue;
        }
        kept += strings[i] + L'\0' + strings[i + 1] + L'\0';
    }
    if (taken.empty() || !bRemove)
        return taken;
    if (kept.empty()) {
        RegDeleteValueW(hKey.Get(), kValue);
    } else {
        kept += L'\0';
        RegSetValueExW(hKey.Get(), kValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(kept.data()),
                       static_cast<DWORD>(kept.size() * sizeof(wchar_t)));
    }
    return taken;
}

std::wstring Quoted(const std::wstring& text)
{
    return L"\"" + text + L"\"";
}

std::wstring MachineString(const wchar_t* pszKey, const wchar_t* pszValue)
{
    wchar_t szData[512] = {};
    DWORD cb = sizeof(szData);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, pszKey, pszValue, RRF_RT_REG_SZ, nullptr, szData, &cb) != ERROR_SUCCESS)
        return std::wstring();
    return szData;
}

bool MachineKeyExists(const wchar_t* pszKey)
{
    glim::CScopedKey hKey;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, pszKey, 0, KEY_READ, hKey.Put()) == ERROR_SUCCESS;
}

int CountAgentProcesses()
{
    int nCount = 0;
    const bool bListed = ForEachProcess([&](const PROCESSENTRY32W& entry) {
        nCount += lstrcmpiW(entry.szExeFile, L"Glimagent.exe") == 0 ? 1 : 0;
        return true;
    });
    return bListed ? nCount : -1;
}

std::wstring ParentImageName(DWORD dwPid)
{
    DWORD dwParent = 0;
    ForEachProcess([&](const PROCESSENTRY32W& entry) {
        dwParent = entry.th32ProcessID == dwPid ? entry.th32ParentProcessID : 0;
        return dwParent == 0;
    });
    std::wstring name;
    ForEachProcess([&](const PROCESSENTRY32W& entry) {
        if (dwParent != 0 && entry.th32ProcessID == dwParent)
            name = entry.szExeFile;
        return name.empty();
    });
    return name;
}

DWORD AgentWindowPid()
{
    DWORD dwPid = 0;
    HWND hWnd = FindAgentWindow();
    if (hWnd)
        GetWindowThreadProcessId(hWnd, &dwPid);
    return dwPid;
}

std::wstring AgentWindowImage()
{
    const glim::CScopedHandle hProcess(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, AgentWindowPid()));
    wchar_t szImage[MAX_PATH] = {};
    DWORD cch = MAX_PATH;
    return hProcess && QueryFullProcessImageNameW(hProcess.Get(), 0, szImage, &cch) ? szImage : L"";
}

void ExpectServiceAsInstalled()
{
    CScHandle hService = OpenServiceHandle(glim::kServiceName, SERVICE_QUERY_CONFIG);
    ASSERT_TRUE(hService) << "the service is not registered";
    BYTE buffer[8192] = {};
    auto* pConfig = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer);
    DWORD cbNeeded = 0;
    ASSERT_TRUE(QueryServiceConfigW(hService.Get(), pConfig, sizeof(buffer), &cbNeeded)) << GetLastError();
    EXPECT_EQ(static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS), pConfig->dwServiceType);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), pConfig->dwStartType);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_ERROR_NORMAL), pConfig->dwErrorControl);
    EXPECT_EQ(Quoted(InstallDir() + L"\\Glimward"), pConfig->lpBinaryPathName);
    EXPECT_STREQ(L"LocalSystem", pConfig->lpServiceStartName);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ScmQueryState(glim::kServiceName));
}

bool Ended(const glim::CScopedHandle& hProcess)
{
    return hProcess && WaitForSingleObject(hProcess.Get(), 0) == WAIT_OBJECT_0;
}

CProductCleanup::CProductCleanup()
{
    m_bHadInstallDir = Exists(InstallDir());
    for (size_t i = 0; i < 2; ++i)
        m_bHadFolder[i] = Exists(DataFolder(i));
    m_settings = ReadRawFile(&m_bHadSettings);
    RemoveProduct();
    RemoveFile();
}

CProductCleanup::~CProductCleanup()
{
    RemoveProduct();
    // Other tests put their programs into the install folder and leave it, empty.
    if (m_bHadInstallDir)
        SHCreateDirectoryExW(nullptr, InstallDir().c_str(), nullptr);
    RemoveFile();
    // The vendor folder (the service's link to the settings leads there), then its Glimkit
    // folder, as they were: a purge removes both.
    for (size_t i = 0; i < 2; ++i) {
        if (m_bHadFolder[i])
            CreateDirectoryW(DataFolder(i).c_str(), nullptr);
    }
    for (size_t i = 2; i-- > 0;) {
        if (!m_bHadFolder[i])
            RemoveDirectoryW(DataFolder(i).c_str());
    }
    if (m_bHadSettings)
        WriteBytes(FilePath(), m_settings);
}

std::wstring CProductCleanup::DataFolder(size_t nDepth)
{
    const std::wstring folder = FolderPath();
    return nDepth == 1 ? folder : folder.substr(0, folder.find_last_of(L'\\'));
}

void CProductCleanup::RemoveProduct()
{
    ScmRemove(glim::kServiceName);
    EndStrayAgents();
    EndProcessesOf(glim::kAgentProgramPath);
    // A program that has just ended may still hold its image for a moment.
    for (const wchar_t* pszName : kInstalledProgramFiles) {
        const std::wstring file = InstalledFile(pszName);
        WaitUntil(
            [&] {
                return DeleteFileW(file.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND ||
                    GetLastError() == ERROR_PATH_NOT_FOUND;
            },
            5000);
    }
    // The logs, and an uninstaller that ran in place and waits for a restart to go.
    const std::wstring dir = InstallDir();
    RemoveTree(dir);
    RemoveDirectoryW(dir.substr(0, dir.find_last_of(L'\\')).c_str());
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kRunKey, kRunValue);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kSetupProgramUninstallKey);
    PendingOperationsIn(dir, true);
}

}  // namespace glimtest
