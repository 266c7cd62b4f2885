// GlimkitSetupHelper.exe, the setup's steps in C++, run by the setup program (or an MSI's
// custom actions) from the program folder as an administrator. One verb a run (see kUsage).
// Every step is written to standard output, one line each, and with --log FILE appended to
// that existing UTF-16LE log too (the setup's own). Exit codes: 0 done; 2 failed, with a last
// line "ERROR: <what and why>" (a wrong command line too, with the usage on standard error).
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "DataFolders.h"
#include "GlimLog.h"
#include "GlimVersion.h"
#include "Programs.h"
#include "Registration.h"
#include "ScopedHandle.h"
#include "ServiceSetup.h"
#include "ShellStart.h"

using namespace glimsetup;

namespace {

constexpr wchar_t kUsage[] =
    L"Usage: GlimkitSetupHelper VERB [--log FILE]\n"
    L"  prepare-data       makes the data folder and its parent the setup's own and protected,\n"
    L"                     and creates the settings file when there is none\n"
    L"  purge              deletes the settings file and the service log, and the data folder\n"
    L"                     when nothing else is in it\n"
    L"  stop               stops the service and this desktop's agents, writing down what ran\n"
    L"  check-replaceable  fails when a program file is in use\n"
    L"  restore            starts again what the last stop wrote down\n"
    L"  start-agent        starts Glimagent through the user's shell and waits for it\n"
    L"  service-install    registers (or replaces) the service, sets its recovery, starts it\n"
    L"  service-recovery   sets the service's restart after a failure\n"
    L"  service-remove     stops and removes the service\n"
    L"  register [--run-only]\n"
    L"                     writes the agent's start at logon and the Apps & features entry\n"
    L"  unregister         removes both and checks they are gone\n"
    L"  --log FILE         also appends each line to FILE, an existing UTF-16LE log\n"
    L"Exit codes: 0 done; 2 failed (the last line says what and why).\n";

void WriteLine(HANDLE hOut, const std::wstring& strLine)
{
    const std::wstring strText = strLine + L"\r\n";
    DWORD dwMode = 0;
    DWORD dwWritten = 0;
    if (GetConsoleMode(hOut, &dwMode)) {
        WriteConsoleW(hOut, strText.data(), static_cast<DWORD>(strText.size()), &dwWritten, nullptr);
        return;
    }
    const int cb =
        WideCharToMultiByte(CP_UTF8, 0, strText.data(), static_cast<int>(strText.size()), nullptr, 0, nullptr, nullptr);
    std::string strBytes(static_cast<size_t>(cb > 0 ? cb : 0), '\0');
    if (cb > 0)
        WideCharToMultiByte(CP_UTF8, 0, strText.data(), static_cast<int>(strText.size()), &strBytes[0], cb, nullptr,
                            nullptr);
    WriteFile(hOut, strBytes.data(), static_cast<DWORD>(strBytes.size()), &dwWritten, nullptr);
}

// Appends UTF-16LE lines to the log the setup keeps; never follows a link put in its place.
void AppendToLog(HANDLE hLog, const std::wstring& strLine)
{
    const std::wstring strText = strLine + L"\r\n";
    DWORD cbWritten = 0;
    WriteFile(hLog, strText.data(), static_cast<DWORD>(strText.size() * sizeof(wchar_t)), &cbWritten, nullptr);
}

int Report(const SVerbResult& result, const wchar_t* pszLog)
{
    glim::CScopedFile hLog;
    if (pszLog) {
        hLog.Reset(CreateFileW(pszLog, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!hLog)
            GLIM_LOG_LAST_ERROR('E', L"Report", L"CreateFileW");
    }
    const HANDLE hOut = GetStdHandle(STD_OUTPUT_HANDLE);
    std::vector<std::wstring> lines = result.lines;
    if (result.nExit != kExitDone)
        lines.push_back(L"ERROR: " + result.strFailure);
    for (const std::wstring& strLine : lines) {
        WriteLine(hOut, strLine);
        if (hLog)
            AppendToLog(hLog.Get(), strLine);
    }
    return result.nExit;
}

}  // namespace

// Shared code's diagnostics (a failed call and its error) go to standard error.
void GlimLog(char chLevel, const wchar_t* pszFunction, int nLine, const wchar_t* pszFormat, ...)
{
    wchar_t szText[512] = {};
    va_list args;
    va_start(args, pszFormat);
    _vsnwprintf(szText, _countof(szText) - 1, pszFormat, args);
    va_end(args);
    WriteLine(GetStdHandle(STD_ERROR_HANDLE),
              std::wstring(1, static_cast<wchar_t>(chLevel)) + L" " + pszFunction + L"(" + std::to_wstring(nLine) +
                  L"): " + szText);
}

namespace {

// The folder this program runs from: the program folder, the only place it is run from.
std::wstring OwnFolder()
{
    wchar_t szPath[MAX_PATH] = {};
    const DWORD cch = GetModuleFileNameW(nullptr, szPath, MAX_PATH);
    if (cch == 0 || cch >= MAX_PATH)
        return std::wstring();
    std::wstring strPath(szPath, cch);
    const size_t pos = strPath.find_last_of(L'\\');
    return pos == std::wstring::npos ? std::wstring() : strPath.substr(0, pos);
}

SVerbResult Failure(const std::wstring& strWhy)
{
    SVerbResult result;
    result.nExit = kExitFailed;
    result.strFailure = strWhy;
    return result;
}

SVerbResult DataVerb(SVerbResult (*pfnVerb)(const std::wstring&))
{
    const std::wstring strDataDir = FindDataDir();
    return strDataDir.empty() ? Failure(L"ALLUSERSPROFILE is not set.") : pfnVerb(strDataDir);
}

SVerbResult StartAgentThroughShell(const SSetupPlace& place)
{
    SAgentStartPlace start;
    start.strProgramDir = place.strProgramDir;
    return StartAgent(start, SystemShellRoute());
}

SRegistrationPlace Registration(const SSetupPlace& place)
{
    SRegistrationPlace registration;
    registration.strProgramDir = place.strProgramDir;
    registration.strVersion = GLIM_VERSION_TEXT;
    return registration;
}

SVerbResult RunVerb(const SHelperCommand& command, const SSetupPlace& place)
{
    const std::wstring& strVerb = command.strVerb;
    if (strVerb == L"prepare-data")
        return DataVerb(PrepareData);
    if (strVerb == L"purge")
        return DataVerb(PurgeData);
    if (strVerb == L"stop")
        return StopPrograms(place);
    if (strVerb == L"check-replaceable")
        return CheckReplaceable(place.strProgramDir);
    if (strVerb == L"start-agent")
        return StartAgentThroughShell(place);
    if (strVerb == L"restore")
        return RestorePrograms(place, [&place] { return StartAgentThroughShell(place); });
    if (strVerb == L"service-install")
        return InstallService(place, ServiceProgramRunner(place.strProgramDir));
    if (strVerb == L"service-recovery")
        return SetServiceRecovery(place);
    if (strVerb == L"service-remove")
        return RemoveService(place, ServiceProgramRunner(place.strProgramDir));
    if (strVerb == L"register")
        return RegisterProduct(Registration(place), command.bRunOnly);
    if (strVerb == L"unregister")
        return UnregisterProduct(Registration(place));
    return Failure(L"the verb " + strVerb + L" is not known.");
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    // DLLs come from this program's folder and System32 only, never from the current folder
    // or PATH.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    const SHelperCommand command = ParseHelperCommand(std::vector<std::wstring>(argv + 1, argv + argc));
    if (!command.bValid) {
        WriteLine(GetStdHandle(STD_ERROR_HANDLE), kUsage);
        return Report(Failure(L"unknown command line: give one verb, its options, and --log FILE or nothing."),
                      nullptr);
    }
    SSetupPlace place;
    place.strProgramDir = OwnFolder();
    return Report(RunVerb(command, place), command.strLog.empty() ? nullptr : command.strLog.c_str());
}
