// The product's registrations: the agent's start at every logon (the HKLM Run value) and the
// setup program's Apps & features entry; written on install, removed and checked gone on
// uninstall.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "InstallLayout.h"
#include "Verb.h"

namespace glimsetup {

// Where the registrations go (keys of the 64-bit view). The defaults are the product's; tests
// give keys of their own.
struct SRegistrationPlace {
    std::wstring strProgramDir;  // no trailing backslash
    std::wstring strVersion;     // the build's version, MAJOR.MINOR.PATCH
    HKEY hRoot = HKEY_LOCAL_MACHINE;
    std::wstring strRunKey = glim::kRunKey;
    std::wstring strRunValue = glim::kRunValue;
    std::wstring strUninstallKey = glim::kUninstallKey;
    // Holds PendingFileRenameOperations, the renames and deletions done at the next restart.
    std::wstring strPendingKey = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
};

// Removes from the restart's operations (pairs: an NT path "\\??\\C:\\...", then the new
// name, empty for a deletion) the deletions of the file at strPath, compared without case; true
// when it removed any.
bool DropPendingDeletion(std::vector<std::wstring>* pOperations, const std::wstring& strPath);

// The Run value's data: the agent's quoted path.
std::wstring AgentRunCommand(const std::wstring& strProgramDir);

// Sum of the sizes of the files in the folder, in KiB rounded up (the entry's EstimatedSize).
DWORD FolderSizeKb(const std::wstring& strFolder);

// Writes the Run value and, unless bRunOnly, the Apps & features entry. An uninstaller that ran
// in place left its own file to be deleted at the next restart: that deletion is cancelled, as
// the entry now names a new Uninstall.exe at that path.
SVerbResult RegisterProduct(const SRegistrationPlace& place, bool bRunOnly);

// Removes the Run value and the Apps & features entry and checks that both are gone.
SVerbResult UnregisterProduct(const SRegistrationPlace& place);

}  // namespace glimsetup
