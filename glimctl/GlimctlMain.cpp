// glimctl.exe: the backlight and its installed pieces from a console. Exit codes: doctor
// gives its number of failures; every other verb 0 done, 1 failed, 2 usage (--help and
// --version 0).
#include <windows.h>

#include "CtlOutput.h"
#include "CtlRules.h"
#include "CtlVerbs.h"

using namespace glimctl;

// Shared code logs through this call; glimctl has no log of its own.
void GlimLog(char, const wchar_t*, int, const wchar_t*, ...)
{
}

int wmain(int argc, wchar_t** argv)
{
    // DLLs come from this program's folder and System32 only, never from the current folder
    // or PATH (the delay-loaded ones included).
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    const SCommand command = ParseCommandLine(argc - 1, argv + 1, Verbs());
    std::wstring strOut;
    int nExit = kExitUsage;
    if (command.pVerb) {
        nExit = command.pVerb->pfnRun(command, &strOut);
    } else {
        // Help on request succeeds; the same text after a mistake goes to standard error.
        strOut = UsageText(Verbs()) + L"\n";
        if (command.bHelp)
            nExit = kExitDone;
    }
    const bool bReport = command.pVerb && command.pVerb->bReport;
    WriteOut(GetStdHandle(nExit == kExitDone || bReport ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE), strOut);
    return nExit;
}
