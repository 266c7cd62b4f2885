// The pure rules of the service's command line and installation paths.
#pragma once

#include "RuleTypes.h"

namespace glim {

enum class ServiceVerb {
    NoArguments,  // no vector, or an empty one
    RunService,   // only the program path: run as the service
    Install,
    Uninstall,
    Start,
    Stop,
    Ignored,  // a word that is not one of the four verbs
};

struct ServiceCommand {
    ServiceVerb eVerb;
    BOOL bDelayedStart;  // -I only: the option is exactly "D" or "d"
    wchar_t szVerb[3];   // the verb upper-cased, for the log; empty unless a known verb
};

// Splits the command-line tail as the program entry delivers it (ANSI code page) into an
// argument vector. The first word of the tail lands in element 0, so the verb is element
// 1; an empty tail gives the program path alone. Free the result with LocalFree.
LPWSTR* BuildServiceArgv(const char* pszTail, int* pnArgc);

// Reads the verb from element 1 and its option from element 2.
ServiceCommand ParseServiceCommand(int nArgc, LPWSTR* ppszArgv);

constexpr int kPathChars = MAX_PATH;  // 260

// The image path that -I registers for a program path: a path whose fourth character
// from the end is "." loses its extension and is wrapped in double quotes (the service
// control manager completes ".exe"). Other paths are kept unchanged. Returns false for
// a path that would not fit in kPathChars.
bool BuildImagePath(const wchar_t* pszModulePath, wchar_t (&szOut)[kPathChars]);

// Trims white space and wraps a path that contains a space, and is not already quoted at
// either end, in double quotes. Returns false, with an empty result, when it would not
// fit in kPathChars.
bool GetSafePath(const wchar_t* pszPath, wchar_t (&szOut)[kPathChars]);

// Whether a service in dwState (as QueryServiceStatus reports it; 0 when unknown) has a
// process of its own running. A service that is still starting has not: that is the copy
// the service control manager has just started.
bool IsServiceProcessRunning(DWORD dwState);

}  // namespace glim
