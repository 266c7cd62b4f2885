// Compile-time checks that a fixed path is made of the shorter names it contains, so that the
// layout headers spell each full path once and the compiler proves it agrees with its parts.
#pragma once

namespace glim {

// True when pszWhole is exactly pszHead, one backslash and pszTail.
constexpr bool IsPathJoin(const wchar_t* pszWhole, const wchar_t* pszHead, const wchar_t* pszTail)
{
    while (*pszHead) {
        if (*pszWhole++ != *pszHead++)
            return false;
    }
    if (*pszWhole++ != L'\\')
        return false;
    while (*pszTail) {
        if (*pszWhole++ != *pszTail++)
            return false;
    }
    return *pszWhole == L'\0';
}

}  // namespace glim
