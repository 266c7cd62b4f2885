// glimctl doctor: one check per installed piece, each PASS, FAIL or SKIP with the reason and
// what to do. It only looks: nothing is changed, created or started.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "CtlRules.h"

namespace glimctl {

// The installed programs, in the order doctor checks them.
std::wstring InstallFolder();
std::vector<std::wstring> InstalledPrograms();

// The level the device reports with the programs' read request: ERROR_SUCCESS, the open's
// error, or ERROR_NO_DATA when the request returns no bytes.
DWORD ReadDeviceLevel(INT32* pnLevel);

// Whether the machine uses Modern Standby (SYSTEM_POWER_CAPABILITIES::AoAc):
// ERROR_SUCCESS, or GetPwrCapabilities' error.
DWORD ReadModernStandby(bool* pbModernStandby);

// The restore rule as doctor shows it: PASS naming the rule that applies and why, SKIP when
// the capabilities could not be read (dwCapsError).
SCheck RestoreRuleCheck(DWORD dwCapsError, bool bModernStandby);

// The agent log's file as the registry configures it; *pbEnabled false when logging is off.
std::wstring AgentLogPath(bool* pbEnabled);

std::vector<SCheck> RunDoctor();
int CountFailures(const std::vector<SCheck>& checks);
std::wstring FormatChecks(const std::vector<SCheck>& checks);
std::wstring FormatChecksJson(const std::vector<SCheck>& checks);

// WinVerifyTrust on one file (no UI, no revocation fetch): its result.
LONG VerifySignature(const std::wstring& strPath);
// What the platform reports for a file or folder's owner and DACL against the installed ones
// (owner Administrators, the DACL of the SDDL text): Pass when the owner and every ACE are
// the same, Fail with the difference; Skip when the platform keeps no access lists there (the
// volume lacks FILE_PERSISTENT_ACLS, or it reports a DACL neither protected nor inherited).
Verdict CompareRights(const std::wstring& strPath, const wchar_t* pszSddl, std::wstring* pstrDetail);

}  // namespace glimctl
