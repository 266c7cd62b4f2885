// The few Win32 calls of the service's command-line rule, for the native build only:
// MultiByteToWideChar widens each byte to one code unit (the ASCII part of every ANSI code
// page), CommandLineToArgvW splits by its documented rules, LocalFree frees its block.
#pragma once

#include "RuleTypes.h"

#define CP_ACP 0

int MultiByteToWideChar(UINT nCodePage, DWORD dwFlags, const char* pszSource, int cbSource, wchar_t* pszOut,
                        int cchOut);
LPWSTR* CommandLineToArgvW(const wchar_t* pszCommandLine, int* pnArgc);
void* LocalFree(void* pMemory);
