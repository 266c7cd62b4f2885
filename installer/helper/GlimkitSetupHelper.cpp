// GlimkitSetupHelper.exe: the setup's steps that need care against links, run by the setup
// program from the program folder as an administrator. One verb a run:
//   prepare-data   make the data folders safe and protected, create the settings file
//   purge          delete the data folder's own files, keep (and list) anything else
// Every step is written to standard output, one line each, and with --log FILE appended to
// that existing UTF-16LE log too (the setup's own). Exit codes: 0 done; 2 failed, with a last
// line "ERROR: <what and why>" (a wrong command line too, with the usage on standard error).
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "DataFolders.h"
#include "GlimLog.h"
#include "ScopedHandle.h"

using namespace glimsetup;

namespace {

constexpr wchar_t kUsage[] =
    L"Usage: GlimkitSetupHelper prepare-data | purge [--log FILE]\n"
    L"  prepare-data  makes the data folder and its parent the setup's own and protected,\n"
    L"                and creates the settings file when there is none\n"
    L"  purge         deletes the settings file and the service log, and the data folder\n"
    L"                when nothing else is in it\n"
    L"  --log FILE    also appends each line to FILE, an existing UTF-16LE log\n"
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
    const int cb = WideCharToMultiByte(CP_UTF8, 0, strText.data(), static_cast<int>(strText.size()), nullptr, 0,
                                       nullptr, nullptr);
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
    WriteLine(GetStdHandle(STD_ERROR_HANDLE), std::wstring(1, static_cast<wchar_t>(chLevel)) + L" " + pszFunction +
                                                  L"(" + std::to_wstring(nLine) + L"): " + szText);
}

int wmain(int argc, wchar_t** argv)
{
    // DLLs come from this program's folder and System32 only, never from the current folder
    // or PATH.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    const bool bLog = argc == 4 && lstrcmpW(argv[2], L"--log") == 0;
    const std::wstring strVerb = argc == 2 || bLog ? argv[1] : L"";
    const wchar_t* pszLog = bLog ? argv[3] : nullptr;
    if (strVerb != L"prepare-data" && strVerb != L"purge") {
        WriteLine(GetStdHandle(STD_ERROR_HANDLE), kUsage);
        SVerbResult usage;
        usage.nExit = kExitFailed;
        usage.strFailure = L"unknown command line: give one verb, prepare-data or purge, and --log FILE or nothing.";
        return Report(usage, nullptr);
    }
    const std::wstring strDataDir = FindDataDir();
    if (strDataDir.empty()) {
        SVerbResult missing;
        missing.nExit = kExitFailed;
        missing.strFailure = L"ALLUSERSPROFILE is not set.";
        return Report(missing, pszLog);
    }
    return Report(strVerb == L"purge" ? PurgeData(strDataDir) : PrepareData(strDataDir), pszLog);
}
