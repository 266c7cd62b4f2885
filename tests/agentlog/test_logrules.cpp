// The pure rules of the log: the mutex name derived from the path, the line prefix and
// the growing message buffer.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdlib>
#include <string>

#include "LogFile.h"

using namespace logfilesync;

namespace {

std::wstring MutexName(const std::wstring& path)
{
    wchar_t szName[kPathChars];
    wmemset(szName, L'#', kPathChars);
    if (!BuildMutexName(path.c_str(), szName))
        return szName[0] == L'\0' ? L"<fail>" : L"<fail, name not cleared>";
    return szName;
}

std::wstring Format(size_t* pnChars, const wchar_t* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    wchar_t* p = FormatMessageText(pszFormat, args, pnChars);
    va_end(args);
    if (!p)
        return L"<none>";
    std::wstring text(p);
    free(p);
    return text;
}

SYSTEMTIME Time(WORD y, WORD mo, WORD d, WORD h, WORD mi, WORD s, WORD ms)
{
    SYSTEMTIME st = {};
    st.wYear = y;
    st.wMonth = mo;
    st.wDay = d;
    st.wHour = h;
    st.wMinute = mi;
    st.wSecond = s;
    st.wMilliseconds = ms;
    return st;
}

}  // namespace

TEST(LogMutexName, DropsBlanksDotsAndBackslashesBehindGlobalPrefix)
{
    EXPECT_EQ(L"Global\\C:Logsagentlog", MutexName(L"C:\\Logs\\agent.log"));
    EXPECT_EQ(L"Global\\C:ProgramFilesmylogsx", MutexName(L"C:\\Program Files\\my logs\\x..."));
    // Forward slashes and other characters stay.
    EXPECT_EQ(L"Global\\Z:/tmp/a-b_c", MutexName(L"Z:/tmp/a-b_c"));
}

TEST(LogMutexName, NothingLeftFails)
{
    EXPECT_EQ(L"<fail>", MutexName(L""));
    EXPECT_EQ(L"<fail>", MutexName(L" .\\. \\"));
}

TEST(LogMutexName, StopsAfter252KeptCharacters)
{
    std::wstring kept252(252, L'x');
    EXPECT_EQ(L"Global\\" + kept252, MutexName(kept252));
    // Dropped characters do not count toward the limit; the rest past it is cut.
    std::wstring path = L"\\ . " + std::wstring(250, L'x') + L"..\\ab" + L"cdef";
    std::wstring name = MutexName(path);
    EXPECT_EQ(L"Global\\" + std::wstring(250, L'x') + L"ab", name);
    EXPECT_EQ(259u, name.size());
}

TEST(LogLinePrefix, ExactFormat)
{
    wchar_t szPrefix[kPrefixChars];
    int n =
        FormatLinePrefix(szPrefix, Time(2024, 5, 6, 7, 8, 9, 10), 'D', 4512, 4520, L"CKBBackLightMgr::ShowOSD", 580);
    std::wstring expected = L"2024/05/06 07:08:09.010|D|004512|004520|CKBBackLightMgr::ShowOSD(L580): ";
    EXPECT_EQ(expected, std::wstring(szPrefix));
    EXPECT_EQ(static_cast<int>(expected.size()), n);
}

TEST(LogLinePrefix, IdsAboveSixDigitsKeepAllDigits)
{
    wchar_t szPrefix[kPrefixChars];
    FormatLinePrefix(szPrefix, Time(2031, 12, 31, 23, 59, 59, 999), 'E', 1234567, 98765432, L"F", -3);
    EXPECT_EQ(L"2031/12/31 23:59:59.999|E|1234567|98765432|F(L-3): ", std::wstring(szPrefix));
    FormatLinePrefix(szPrefix, Time(2024, 1, 2, 3, 4, 5, 6), 'W', 999999, 1000000, L"", 0);
    EXPECT_EQ(L"2024/01/02 03:04:05.006|W|999999|1000000|(L0): ", std::wstring(szPrefix));
}

TEST(LogLinePrefix, MustFitIn260Characters)
{
    wchar_t szPrefix[kPrefixChars];
    const SYSTEMTIME st = Time(2024, 5, 6, 7, 8, 9, 10);
    // 40 fixed characters + name + "(L1): " (6): a 213-character name gives 259, the most
    // that fits with the terminator.
    std::wstring name(213, L'n');
    EXPECT_EQ(259, FormatLinePrefix(szPrefix, st, 'D', 1, 1, name.c_str(), 1));
    name += L'n';
    EXPECT_EQ(-1, FormatLinePrefix(szPrefix, st, 'D', 1, 1, name.c_str(), 1));
    EXPECT_EQ(L'\0', szPrefix[0]);
    EXPECT_EQ(-1, FormatLinePrefix(szPrefix, st, 'D', 1, 1, std::wstring(240, L'f').c_str(), 1));
}

TEST(LogMessageText, FormatsWithWideStringArguments)
{
    size_t n = 0;
    EXPECT_EQ(L"dwErr=5 name=abc ch=Z", Format(&n, L"dwErr=%d name=%s ch=%c", 5, L"abc", L'Z'));
    EXPECT_EQ(21u, n);
}

TEST(LogMessageText, EmptyMessageGivesNone)
{
    size_t n = 7;
    EXPECT_EQ(L"<none>", Format(&n, L""));
    EXPECT_EQ(0u, n);
    EXPECT_EQ(L"<none>", Format(&n, L"%s", L""));
}

TEST(LogMessageText, GrowsPastTheFirstBuffer)
{
    // 1023 characters fit the first buffer; 1024 and far more need it doubled.
    for (size_t nLen : {size_t(1023), size_t(1024), size_t(1025), size_t(2047), size_t(2048), size_t(70000)}) {
        std::wstring body(nLen, L'q');
        body[nLen - 1] = L'!';
        size_t n = 0;
        EXPECT_EQ(body, Format(&n, L"%s", body.c_str())) << nLen;
        EXPECT_EQ(nLen, n);
    }
}
