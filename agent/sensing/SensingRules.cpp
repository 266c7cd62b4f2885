#include "SensingRules.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cwchar>
#include <cwctype>

namespace glim {

namespace {

constexpr wchar_t kMinuteChar = L'\x5206';
constexpr wchar_t kSecondChar = L'\x79D2';

// The standard decimal conversion (leading blanks and a sign accepted, digits up to the
// first other character). False when no digit was read or the value leaves 32 signed bits.
bool ConvertWholeNumber(const wchar_t* pszText, int* pnValue)
{
    wchar_t* pszEnd = nullptr;
    errno = 0;
    const long long llValue = wcstoll(pszText, &pszEnd, 10);
    if (pszEnd == pszText || errno == ERANGE || llValue > INT_MAX || llValue < INT_MIN)
        return false;
    *pnValue = static_cast<int>(llValue);
    return true;
}

}  // namespace

int ParseInActiveTime(const wchar_t* pszValue)
{
    if (!pszValue)
        return 0;
    wchar_t szText[256] = {};
    wcsncpy(szText, pszValue, 255);
    long long llSeconds = 0;
    size_t cch = wcslen(szText);
    if (wcschr(szText, kMinuteChar) && cch > 0) {
        szText[--cch] = L'\0';
        int nMinutes = 0;
        if (!ConvertWholeNumber(szText, &nMinutes))
            return 0;
        llSeconds = static_cast<long long>(nMinutes) * 60;
    }
    if (wcschr(szText, kSecondChar) && cch > 0) {
        szText[--cch] = L'\0';
        int nSeconds = 0;
        if (!ConvertWholeNumber(szText, &nSeconds))
            return 0;
        llSeconds = nSeconds;
    }
    if (llSeconds > INT_MAX || llSeconds < INT_MIN)
        return 0;
    return static_cast<int>(llSeconds);
}

DWORD InActiveThresholdMs(int nSeconds)
{
    if (nSeconds <= 0)
        return 0;
    const unsigned long long ullMs = static_cast<unsigned long long>(nSeconds) * 1000ull;
    return ullMs > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(ullMs);
}

DWORD LaterTick(DWORD dwNow, DWORD dwA, DWORD dwB)
{
    return (dwNow - dwA) <= (dwNow - dwB) ? dwA : dwB;
}

IdleVerdict JudgeIdle(DWORD dwNow, DWORD dwLastActive, DWORD dwThresholdMs)
{
    const DWORD dwIdle = dwNow - dwLastActive;
    if (dwIdle >= dwThresholdMs)
        return IdleVerdict::Inactive;
    if (dwIdle <= kActiveWindowMs)
        return IdleVerdict::Active;
    return IdleVerdict::None;
}

const wchar_t* ScopeTitleTail(const wchar_t* pszTitle)
{
    const wchar_t* pszHyphen = wcsrchr(pszTitle, L'-');
    return (pszHyphen && pszHyphen != pszTitle) ? pszHyphen : pszTitle;
}

int IsTitleInScope(const wchar_t* pszScopeList, const wchar_t* pszTitle)
{
    if (!pszScopeList || !pszScopeList[0] || !pszTitle)
        return 0;
    return wcsstr(pszScopeList, ScopeTitleTail(pszTitle)) ? 1 : 0;
}

int RectCoversMonitor(const RECT& rc, const RECT& rcMonitor)
{
    return (rc.left <= rcMonitor.left && rc.right >= rcMonitor.right && rc.top <= rcMonitor.top &&
            rc.bottom >= rcMonitor.bottom)
        ? 1
        : 0;
}

int AmbientBand(float fLux, int nDarknessLux, int nDimIndoorsLux)
{
    if (fLux < static_cast<float>(nDarknessLux))
        return kBandDarkness;
    if (fLux <= static_cast<float>(nDimIndoorsLux))
        return kBandDimIndoors;
    if (fLux < 800.0f)
        return 3;
    if (fLux < 10000.0f)
        return 4;
    if (fLux < 30000.0f)
        return 5;
    return 6;
}

int AmbientBandLevel(int nBand, int nKBBrightness)
{
    if (nBand == kBandDarkness)
        return nKBBrightness;
    if (nBand == kBandDimIndoors)
        return 10;
    return 0;
}

DWORD NextFullScreenCheck(DWORD dwCurrent)
{
    const DWORD dwNext = dwCurrent + 1;
    return dwNext != 0 ? dwNext : 1;
}

bool IsVerdictOfRunningCheck(LPARAM lCheck, bool bRunning, DWORD dwRunningCheck)
{
    if (lCheck == 0)
        return true;
    return bRunning && lCheck == static_cast<LPARAM>(dwRunningCheck);
}

WPARAM LuxToWParam(float fLux)
{
    if (!(fLux >= 0.0f))
        return 0;
    if (fLux >= 18446744073709551616.0f)
        return static_cast<WPARAM>(-1);
    return static_cast<WPARAM>(static_cast<unsigned long long>(fLux));
}

}  // namespace glim
