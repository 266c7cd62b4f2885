#include "ServiceCommand.h"

#include <shellapi.h>

#include <cwchar>
#include <new>

namespace glim {

LPWSTR* BuildServiceArgv(const char* pszTail, int* pnArgc)
{
    *pnArgc = 0;
    const char* pszSource = pszTail ? pszTail : "";
    const int cchWide = MultiByteToWideChar(CP_ACP, 0, pszSource, -1, nullptr, 0);
    if (cchWide <= 0)
        return nullptr;
    wchar_t* pszWide = new (std::nothrow) wchar_t[cchWide];
    if (!pszWide)
        return nullptr;
    LPWSTR* ppszArgv = nullptr;
    if (MultiByteToWideChar(CP_ACP, 0, pszSource, -1, pszWide, cchWide) > 0)
        ppszArgv = CommandLineToArgvW(pszWide, pnArgc);
    delete[] pszWide;
    if (!ppszArgv)
        *pnArgc = 0;
    return ppszArgv;
}

namespace {

wchar_t UpperAscii(wchar_t ch)
{
    return (ch >= L'a' && ch <= L'z') ? static_cast<wchar_t>(ch - L'a' + L'A') : ch;
}

}  // namespace

ServiceCommand ParseServiceCommand(int nArgc, LPWSTR* ppszArgv)
{
    ServiceCommand cmd = {ServiceVerb::Ignored, FALSE, {}};
    if (!ppszArgv || nArgc <= 0) {
        cmd.eVerb = ServiceVerb::NoArguments;
        return cmd;
    }
    if (nArgc == 1) {
        cmd.eVerb = ServiceVerb::RunService;
        return cmd;
    }
    const wchar_t* pszWord = ppszArgv[1];
    if (!pszWord || wcslen(pszWord) != 2 || pszWord[0] != L'-')
        return cmd;
    switch (UpperAscii(pszWord[1])) {
    case L'I': cmd.eVerb = ServiceVerb::Install; break;
    case L'U': cmd.eVerb = ServiceVerb::Uninstall; break;
    case L'S': cmd.eVerb = ServiceVerb::Start; break;
    case L'K': cmd.eVerb = ServiceVerb::Stop; break;
    default: return cmd;
    }
    cmd.szVerb[0] = L'-';
    cmd.szVerb[1] = UpperAscii(pszWord[1]);
    if (cmd.eVerb == ServiceVerb::Install && nArgc >= 3 && ppszArgv[2])
        cmd.bDelayedStart = (wcscmp(ppszArgv[2], L"D") == 0 || wcscmp(ppszArgv[2], L"d") == 0);
    return cmd;
}

bool BuildImagePath(const wchar_t* pszModulePath, wchar_t (&szOut)[kPathChars])
{
    szOut[0] = L'\0';
    const size_t cch = pszModulePath ? wcslen(pszModulePath) : 0;
    if (cch == 0 || cch >= static_cast<size_t>(kPathChars))
        return false;
    if (cch >= 4 && pszModulePath[cch - 4] == L'.') {
        // Quotes replace the four characters of the extension, so the result always fits.
        szOut[0] = L'"';
        wmemcpy(szOut + 1, pszModulePath, cch - 4);
        szOut[cch - 3] = L'"';
        szOut[cch - 2] = L'\0';
        return true;
    }
    wmemcpy(szOut, pszModulePath, cch + 1);
    return true;
}

namespace {

bool IsPathSpace(wchar_t ch)
{
    return ch == L'\t' || ch == L'\n' || ch == L'\v' || ch == L'\f' || ch == L'\r' || ch == L' ';
}

}  // namespace

bool GetSafePath(const wchar_t* pszPath, wchar_t (&szOut)[kPathChars])
{
    szOut[0] = L'\0';
    if (!pszPath)
        return false;
    const wchar_t* pszBegin = pszPath;
    while (*pszBegin && IsPathSpace(*pszBegin))
        ++pszBegin;
    size_t cch = wcslen(pszBegin);
    while (cch > 0 && IsPathSpace(pszBegin[cch - 1]))
        --cch;
    const bool bQuote =
        cch >= 2 && pszBegin[0] != L'"' && pszBegin[cch - 1] != L'"' && wmemchr(pszBegin, L' ', cch) != nullptr;
    const size_t cchResult = cch + (bQuote ? 2 : 0);
    if (cchResult >= static_cast<size_t>(kPathChars))
        return false;
    size_t i = 0;
    if (bQuote)
        szOut[i++] = L'"';
    wmemcpy(szOut + i, pszBegin, cch);
    i += cch;
    if (bQuote)
        szOut[i++] = L'"';
    szOut[i] = L'\0';
    return true;
}

bool IsServiceProcessRunning(DWORD dwState)
{
    return dwState != 0 && dwState != SERVICE_STOPPED && dwState != SERVICE_START_PENDING;
}

}  // namespace glim
