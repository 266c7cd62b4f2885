#include "shellapi.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

int MultiByteToWideChar(UINT, DWORD, const char* pszSource, int cbSource, wchar_t* pszOut, int cchOut)
{
    const size_t cb = cbSource < 0 ? std::strlen(pszSource) + 1 : static_cast<size_t>(cbSource);
    if (!pszOut || cchOut == 0)
        return static_cast<int>(cb);
    if (static_cast<size_t>(cchOut) < cb)
        return 0;
    for (size_t i = 0; i < cb; ++i)
        pszOut[i] = static_cast<wchar_t>(static_cast<unsigned char>(pszSource[i]));
    return static_cast<int>(cb);
}

namespace {

bool IsBlank(wchar_t ch)
{
    return ch == L' ' || ch == L'\t';
}

// Arguments after the first: 2n backslashes and a quote give n backslashes and toggle
// quoting; 2n+1 backslashes and a quote give n backslashes and a quote; other backslashes
// are literal; outside quotes, blanks separate arguments.
const wchar_t* NextArgument(const wchar_t* p, std::wstring* pArg)
{
    bool bQuoted = false;
    for (; *p && (bQuoted || !IsBlank(*p)); ++p) {
        size_t cBackslashes = 0;
        while (*p == L'\\') {
            ++cBackslashes;
            ++p;
        }
        if (*p == L'"') {
            pArg->append(cBackslashes / 2, L'\\');
            if (cBackslashes % 2)
                pArg->push_back(L'"');
            else
                bQuoted = !bQuoted;
        } else {
            pArg->append(cBackslashes, L'\\');
            if (!*p)
                break;
            pArg->push_back(*p);
        }
    }
    return p;
}

}  // namespace

LPWSTR* CommandLineToArgvW(const wchar_t* pszCommandLine, int* pnArgc)
{
    std::vector<std::wstring> args;
    const wchar_t* p = pszCommandLine;
    if (!*p) {
        args.push_back(L"C:\\native\\program.exe");
    } else {
        // The program name: up to the closing quote when quoted, else up to a blank.
        std::wstring first;
        const wchar_t chEnd = *p == L'"' ? L'"' : L' ';
        if (*p == L'"')
            ++p;
        while (*p && *p != chEnd && !(chEnd == L' ' && IsBlank(*p)))
            first.push_back(*p++);
        if (*p == L'"')
            ++p;
        args.push_back(first);
        for (;;) {
            while (IsBlank(*p))
                ++p;
            if (!*p)
                break;
            std::wstring arg;
            p = NextArgument(p, &arg);
            args.push_back(arg);
        }
    }
    // One block, as the real call returns: the pointer array, then the strings.
    size_t cb = (args.size() + 1) * sizeof(LPWSTR);
    for (const std::wstring& arg : args)
        cb += (arg.size() + 1) * sizeof(wchar_t);
    LPWSTR* ppszArgv = static_cast<LPWSTR*>(std::malloc(cb));
    wchar_t* pszText = reinterpret_cast<wchar_t*>(ppszArgv + args.size() + 1);
    for (size_t i = 0; i < args.size(); ++i) {
        ppszArgv[i] = pszText;
        std::wmemcpy(pszText, args[i].c_str(), args[i].size() + 1);
        pszText += args[i].size() + 1;
    }
    ppszArgv[args.size()] = nullptr;
    *pnArgc = static_cast<int>(args.size());
    return ppszArgv;
}

void* LocalFree(void* pMemory)
{
    std::free(pMemory);
    return nullptr;
}
