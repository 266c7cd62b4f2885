// The product's registrations: the agent's start at every logon (the HKLM Run value) and the
// setup program's Apps & features entry; written on install, removed and checked gone on
// uninstall.
#pragma once

#include <windows.h>

#include <string>

#include "Verb.h"

namespace glimsetup {

// Where the registrations go (keys of the 64-bit view). The defaults are the product's; tests
// give keys of their own.
struct SRegistrationPlace {
    std::wstring strProgramDir;  // no trailing backslash
    std::wstring strVersion;     // the build's version, MAJOR.MINOR.PATCH
    HKEY hRoot = HKEY_LOCAL_MACHINE;
    std::wstring strRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    std::wstring strRunValue = L"Glimagent";
    std::wstring strUninstallKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Glimkit";
};

// The Run value's data: the agent's quoted path.
std::wstring AgentRunCommand(const std::wstring& strProgramDir);

// Sum of the sizes of the files in the folder, in KiB rounded up (the entry's EstimatedSize).
DWORD FolderSizeKb(const std::wstring& strFolder);

// Writes the Run value and, unless bRunOnly, the Apps & features entry.
SVerbResult RegisterProduct(const SRegistrationPlace& place, bool bRunOnly);

// Removes the Run value and the Apps & features entry and checks that both are gone.
SVerbResult UnregisterProduct(const SRegistrationPlace& place);

}  // namespace glimsetup
