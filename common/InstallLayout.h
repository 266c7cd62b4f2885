// Where Glimkit is installed and how the system knows it: the product's names, the program
// folder and its programs, the service and its recovery, the agent's main window, the
// registry keys the setup writes, and the data folder with its rights. The programs, glimctl,
// the setup helper and the tests include this header; the installers' sources get it
// generated at configure time (cmake/Layout.cmake), so each line keeps the one simple form
// that generator reads: one constant per line, a string or a whole number (or a list of them).
#pragma once

#include "ConstexprPath.h"
#include "RuleTypes.h"

namespace glim {

// The maker and the product.
constexpr const wchar_t* kPublisher = L"Vessik";
constexpr const wchar_t* kProductName = L"Glimkit";

// The program folder. The service starts the agent at exactly this path whatever the bitness
// of the installer that put it there, so the folder is fixed, not a "Program Files" lookup.
constexpr const wchar_t* kVendorProgramFolder = L"C:\\Program Files (x86)\\Vessik";
constexpr const wchar_t* kProgramFolder = L"C:\\Program Files (x86)\\Vessik\\Glimkit";
static_assert(IsPathJoin(kProgramFolder, kVendorProgramFolder, kProductName), "program folder");

// The files installed there.
constexpr const wchar_t* kServiceProgramFile = L"Glimward.exe";
constexpr const wchar_t* kAgentProgramFile = L"Glimagent.exe";
constexpr const wchar_t* kCtlProgramFile = L"glimctl.exe";
constexpr const wchar_t* kSetupHelperFile = L"GlimkitSetupHelper.exe";
constexpr const wchar_t* kUninstallerFile = L"Uninstall.exe";
// The programs the setup replaces and `glimctl doctor` checks (the helper and the
// uninstaller are the setup's own).
constexpr const wchar_t* kProgramFiles[] = {kServiceProgramFile, kAgentProgramFile, kCtlProgramFile};
constexpr const wchar_t* kAgentProgramPath = L"C:\\Program Files (x86)\\Vessik\\Glimkit\\Glimagent.exe";
static_assert(IsPathJoin(kAgentProgramPath, kProgramFolder, kAgentProgramFile), "agent path");

// The service's name; also the name of the mutex that marks a running service process.
constexpr const wchar_t* kServiceName = L"Glimward";
// Its recovery: restart after each delay in turn (the last one repeats), and count failures
// afresh after a day without one.
constexpr DWORD kRecoveryDelaysMs[3] = {5000, 30000, 60000};
constexpr DWORD kRecoveryResetSeconds = 86400;
// The recovery also applies when the service stops with an error or fails to start, not only
// when its process crashes (SERVICE_FAILURE_ACTIONS_FLAG).
constexpr BOOL kRecoveryOnNonCrashFailures = 1;

// The agent's main window, found by title (FindWindowW with no class); WM_COMMAND with this
// identifier ends the agent as its menu's Exit does.
constexpr const wchar_t* kAgentWindowTitle = L"BACKLIGHT0314FE0E-6416-4CB9-9698-F1C731E00A25";
constexpr UINT kAgentExitCommand = 105;

// Registry, under HKEY_LOCAL_MACHINE (64-bit view): the agent's start at every logon, the
// setup program's Apps & features entry, and the product's own key.
constexpr const wchar_t* kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const wchar_t* kRunValue = L"Glimagent";
constexpr const wchar_t* kUninstallKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Glimkit";
static_assert(IsPathJoin(kUninstallKey, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall", kProductName), "uninstall key");
constexpr const wchar_t* kProductKey = L"Software\\Vessik\\Glimkit";
// The MSI's product code, present while the MSI's install is.
constexpr const wchar_t* kMsiProductCodeValue = L"MsiProductCode";
// What the setup's stop found running (DWORD 0/1 values), for its restore.
constexpr const wchar_t* kSetupStateKey = L"Software\\Vessik\\Glimkit\\Setup";
static_assert(IsPathJoin(kSetupStateKey, kProductKey, L"Setup"), "setup state key");
constexpr const wchar_t* kServiceWasRunningValue = L"ServiceWasRunning";
constexpr const wchar_t* kAgentWasRunningValue = L"AgentWasRunning";

// The all-users data folder, under %ALLUSERSPROFILE%, and the service's log in it.
constexpr const wchar_t* kDataVendorFolder = L"Vessik";
constexpr const wchar_t* kDataFolderRelative = L"Vessik\\Glimkit";
static_assert(IsPathJoin(kDataFolderRelative, kDataVendorFolder, kProductName), "data folder");
constexpr const wchar_t* kServiceLogFileName = L"Service.log";
constexpr const wchar_t* kServiceLogPath = L"C:\\ProgramData\\Vessik\\Glimkit\\Service.log";
static_assert(IsPathJoin(kServiceLogPath, L"C:\\ProgramData\\Vessik\\Glimkit", kServiceLogFileName), "service log");

// The rights of the data folders and the settings file, as the setup sets them and `glimctl
// doctor` checks them. SYSTEM and Administrators have full control; Users may read the
// folders and read and write the settings file's data, but create, delete or re-grant
// nothing, so no user can plant a file or a link where SYSTEM writes.
// "Vessik" and "Vessik\Glimkit": protected; Users read and execute; inherited by what is
// created inside.
constexpr const wchar_t* kDataFolderSddl = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
// "Glimkit.ini": protected; Users FILE_GENERIC_READ | FILE_GENERIC_WRITE (data and
// attributes, no DELETE, WRITE_DAC or WRITE_OWNER).
constexpr const wchar_t* kSettingsFileSddl = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x12019f;;;BU)";

}  // namespace glim
