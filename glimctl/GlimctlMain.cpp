// glimctl.exe: the backlight and its installed pieces from a console. Exit codes: doctor
// gives its number of failures; every other verb 0 done, 1 failed, 2 usage (--help and
// --version 0).
#include <windows.h>

#include "CtlOutput.h"
#include "CtlRules.h"
#include "CtlVerbs.h"
#include "Doctor.h"
#include "GlimVersion.h"

using namespace glimctl;

// Shared code logs through this call; glimctl has no log of its own.
void GlimLog(char, const wchar_t*, int, const wchar_t*, ...) {}

int wmain(int argc, wchar_t** argv)
{
    // DLLs come from this program's folder and System32 only, never from the current folder
    // or PATH (the delay-loaded ones included).
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    const SCommand command = ParseCommandLine(argc - 1, argv + 1);
    const HANDLE hOut = GetStdHandle(STD_OUTPUT_HANDLE);
    std::wstring strOut;
    int nExit = kExitUsage;
    switch (command.verb) {
    case Verb::Doctor: {
        const std::vector<SCheck> checks = RunDoctor();
        strOut = command.bJson ? FormatChecksJson(checks) : FormatChecks(checks);
        nExit = CountFailures(checks);
        break;
    }
    case Verb::Status:
        nExit = RunStatus(command.bJson, &strOut);
        break;
    case Verb::Set:
        nExit = RunSet(command, &strOut);
        break;
    case Verb::Report:
        nExit = RunReport(command.strValue, &strOut);
        break;
    case Verb::Version:
        strOut = std::wstring(L"glimctl (Glimkit) ") + GLIM_VERSION_TEXT + L"\n";
        nExit = kExitDone;
        break;
    case Verb::Help:
        // Help on request succeeds; the same text after a mistake goes to standard error.
        nExit = kExitDone;
        [[fallthrough]];
    case Verb::Usage:
        strOut = std::wstring(kUsage) + L"\n";
        break;
    }
    WriteOut(nExit == kExitDone || command.verb == Verb::Doctor || command.verb == Verb::Status
                 ? hOut
                 : GetStdHandle(STD_ERROR_HANDLE),
             strOut);
    return nExit;
}
