// The product as an installer leaves it, observed from outside by the installer tests of both
// engines (the setup program and the MSI): its files, registry values and processes, and a
// cleanup that removes every piece without the uninstaller under test.
#pragma once

#include <windows.h>

#include <tlhelp32.h>

#include <string>
#include <utility>
#include <vector>

#include "ScopedHandle.h"

namespace glimtest {

extern const wchar_t* const kRunKey;
extern const wchar_t* const kRunValue;
extern const wchar_t* const kSetupProgramUninstallKey;
// The programs an install puts into the program folder (the setup program's uninstaller too).
extern const wchar_t* const kInstalledProgramFiles[5];

std::wstring InstalledFile(const wchar_t* pszName);
bool Exists(const std::wstring& path);
std::wstring Quoted(const std::wstring& text);
// The names in a folder, sorted; empty when it is missing or empty.
std::vector<std::wstring> FolderNames(const std::wstring& folder);
// The sources of the deletions and renames at the next restart that lie in the folder (NT
// paths), removed with bRemove: the test prefix never restarts, so none may stay to delete a
// later test's files.
std::vector<std::wstring> PendingOperationsIn(const std::wstring& folder, bool bRemove);

// A string value of HKLM (64-bit view); empty when it is missing.
std::wstring MachineString(const wchar_t* pszKey, const wchar_t* pszValue);
bool MachineKeyExists(const wchar_t* pszKey);

// Calls visit(entry) for each running process until it returns false; false when the
// processes cannot be listed.
template <typename Visit>
bool ForEachProcess(Visit visit)
{
    const glim::CScopedFile hSnapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!hSnapshot)
        return false;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL bMore = Process32FirstW(hSnapshot.Get(), &entry); bMore && visit(entry);
         bMore = Process32NextW(hSnapshot.Get(), &entry)) {}
    return true;
}

// Processes whose image file is named Glimagent.exe, wherever they run from; -1 when the
// processes cannot be listed.
int CountAgentProcesses();
// The image file name of the process that started the given one; empty when unknown.
std::wstring ParentImageName(DWORD dwPid);
// The process that owns the agent's main window; 0 when there is none.
DWORD AgentWindowPid();
// The image of that process; empty when there is none.
std::wstring AgentWindowImage();
// The service registered as its install verb registers it (own process, automatic start,
// LocalSystem, the quoted image path without its extension) and running.
void ExpectServiceAsInstalled();
// A process that a test watches end: the handle keeps its identity when Wine reuses the id.
bool Ended(const glim::CScopedHandle& hProcess);

// Everything an install leaves, removed without the uninstaller (which is under test) when the
// test starts and again when it ends; the settings folder and file come back as they were.
class CProductCleanup {
public:
    CProductCleanup();
    virtual ~CProductCleanup();
    CProductCleanup(const CProductCleanup&) = delete;
    CProductCleanup& operator=(const CProductCleanup&) = delete;

    // Removes the service, the agents, the program files and folders and the registry values.
    static void RemoveProduct();

private:
    // 0: ALLUSERSPROFILE\Vessik, 1: ALLUSERSPROFILE\Vessik\Glimkit.
    static std::wstring DataFolder(size_t nDepth);

    bool m_bHadInstallDir = false;
    bool m_bHadFolder[2] = {};
    bool m_bHadSettings = false;
    std::string m_settings;
};

}  // namespace glimtest
