// The service's pure rules: the command-line vector and verbs, the image path, the safe
// path, the session-lock decision and the service log's line and time formats.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <ctime>
#include <string>

#include "ReadLoop.h"
#include "ServiceCommand.h"
#include "ServiceLog.h"

using namespace glim;

namespace {

// The vector the program builds from a command-line tail, parsed.
ServiceCommand ParseTail(const char* pszTail, int* pnArgc = nullptr)
{
    int nArgc = 0;
    LPWSTR* ppszArgv = BuildServiceArgv(pszTail, &nArgc);
    const ServiceCommand cmd = ParseServiceCommand(nArgc, ppszArgv);
    if (ppszArgv)
        LocalFree(ppszArgv);
    if (pnArgc)
        *pnArgc = nArgc;
    return cmd;
}

}  // namespace

TEST(ServiceCommandLine, TailWordsStartAtElementZero)
{
    int nArgc = 0;
    LPWSTR* ppszArgv = BuildServiceArgv("x -i d", &nArgc);
    ASSERT_NE(nullptr, ppszArgv);
    ASSERT_EQ(3, nArgc);
    EXPECT_STREQ(L"x", ppszArgv[0]);
    EXPECT_STREQ(L"-i", ppszArgv[1]);
    EXPECT_STREQ(L"d", ppszArgv[2]);
    LocalFree(ppszArgv);

    // An empty tail gives one element, the program path: the service entry.
    EXPECT_EQ(ServiceVerb::RunService, ParseTail("", &nArgc).eVerb);
    EXPECT_EQ(1, nArgc);
    EXPECT_EQ(ServiceVerb::RunService, ParseTail(nullptr).eVerb);
}

TEST(ServiceCommandLine, VerbIsTheSecondWordOfTheTail)
{
    EXPECT_EQ(ServiceVerb::Install, ParseTail("x -I").eVerb);
    EXPECT_EQ(ServiceVerb::Install, ParseTail("anything -i").eVerb);
    EXPECT_EQ(ServiceVerb::Uninstall, ParseTail("x -u").eVerb);
    EXPECT_EQ(ServiceVerb::Start, ParseTail("x -S").eVerb);
    EXPECT_EQ(ServiceVerb::Stop, ParseTail("x -k").eVerb);
    // A tail of only -I puts -I in element 0: the service entry runs.
    EXPECT_EQ(ServiceVerb::RunService, ParseTail("-I").eVerb);
    // -I D reads D as the verb: nothing happens.
    EXPECT_EQ(ServiceVerb::Ignored, ParseTail("-I D").eVerb);
}

TEST(ServiceCommandLine, OnlyExactTwoCharacterVerbsCount)
{
    EXPECT_EQ(ServiceVerb::Ignored, ParseTail("x -IX").eVerb);
    EXPECT_EQ(ServiceVerb::Ignored, ParseTail("x I").eVerb);
    EXPECT_EQ(ServiceVerb::Ignored, ParseTail("x -").eVerb);
    EXPECT_EQ(ServiceVerb::Ignored, ParseTail("x /I").eVerb);
    EXPECT_EQ(ServiceVerb::Ignored, ParseTail("x -X").eVerb);
    EXPECT_EQ(ServiceVerb::Ignored, ParseTail("x \"\"").eVerb);
    // Only ASCII letters are upper-cased.
    EXPECT_EQ(ServiceVerb::Ignored, ParseTail("x -\xEF").eVerb);
}

TEST(ServiceCommandLine, VerbIsUpperCasedForTheLog)
{
    EXPECT_STREQ(L"-I", ParseTail("x -i").szVerb);
    EXPECT_STREQ(L"-K", ParseTail("x -k").szVerb);
    EXPECT_STREQ(L"", ParseTail("x -IX").szVerb);
}

TEST(ServiceCommandLine, DelayedStartOnlyForExactlyD)
{
    EXPECT_TRUE(ParseTail("x -i d").bDelayedStart);
    EXPECT_TRUE(ParseTail("x -I D more").bDelayedStart);
    EXPECT_FALSE(ParseTail("x -I").bDelayedStart);
    EXPECT_FALSE(ParseTail("x -I DD").bDelayedStart);
    EXPECT_FALSE(ParseTail("x -I x").bDelayedStart);
    // The option belongs to -I only.
    EXPECT_FALSE(ParseTail("x -S D").bDelayedStart);
}

TEST(ServiceCommandLine, NoVectorIsInvalid)
{
    EXPECT_EQ(ServiceVerb::NoArguments, ParseServiceCommand(0, nullptr).eVerb);
    wchar_t szArg[] = L"x";
    LPWSTR argv[] = {szArg};
    EXPECT_EQ(ServiceVerb::NoArguments, ParseServiceCommand(0, argv).eVerb);
    EXPECT_EQ(ServiceVerb::NoArguments, ParseServiceCommand(2, nullptr).eVerb);
}

TEST(ImagePath, DropsTheExtensionAndQuotes)
{
    wchar_t szOut[kPathChars];
    ASSERT_TRUE(BuildImagePath(L"C:\\X\\Glimward.exe", szOut));
    EXPECT_STREQ(L"\"C:\\X\\Glimward\"", szOut);
    ASSERT_TRUE(BuildImagePath(L"C:\\Program Files (x86)\\Vessik\\Glimkit\\Glimward.exe", szOut));
    EXPECT_STREQ(L"\"C:\\Program Files (x86)\\Vessik\\Glimkit\\Glimward\"", szOut);
}

TEST(ImagePath, OtherShapesAreKeptOrRefused)
{
    wchar_t szOut[kPathChars];
    // No dot four places from the end: kept as it is (GetSafePath still quotes spaces).
    ASSERT_TRUE(BuildImagePath(L"C:\\X\\Glimward", szOut));
    EXPECT_STREQ(L"C:\\X\\Glimward", szOut);
    ASSERT_TRUE(BuildImagePath(L".exe", szOut));
    EXPECT_STREQ(L"\"\"", szOut);
    EXPECT_FALSE(BuildImagePath(L"", szOut));
    EXPECT_FALSE(BuildImagePath(nullptr, szOut));
    // The longest path that fits, and one character more.
    std::wstring longest(kPathChars - 5, L'a');
    longest += L".exe";
    ASSERT_EQ(static_cast<size_t>(kPathChars - 1), longest.size());
    ASSERT_TRUE(BuildImagePath(longest.c_str(), szOut));
    EXPECT_EQ(static_cast<size_t>(kPathChars - 3), wcslen(szOut));
    longest.insert(0, L"a");
    EXPECT_FALSE(BuildImagePath(longest.c_str(), szOut));
    EXPECT_STREQ(L"", szOut);
}

TEST(SafePath, TrimsAndQuotesPathsWithSpaces)
{
    wchar_t szOut[kPathChars];
    ASSERT_TRUE(GetSafePath(L" \t\r\nC:\\A B\\s.exe \v\f", szOut));
    EXPECT_STREQ(L"\"C:\\A B\\s.exe\"", szOut);
    ASSERT_TRUE(GetSafePath(L"C:\\AB\\s.exe", szOut));
    EXPECT_STREQ(L"C:\\AB\\s.exe", szOut);
    // Already quoted at either end: left alone.
    ASSERT_TRUE(GetSafePath(L"  \"C:\\A B\\s\"  ", szOut));
    EXPECT_STREQ(L"\"C:\\A B\\s\"", szOut);
    ASSERT_TRUE(GetSafePath(L"\"C:\\A B\\s.exe -x", szOut));
    EXPECT_STREQ(L"\"C:\\A B\\s.exe -x", szOut);
    ASSERT_TRUE(GetSafePath(L"C:\\A B\\s.exe\"", szOut));
    EXPECT_STREQ(L"C:\\A B\\s.exe\"", szOut);
    // Shorter than two characters: never quoted.
    ASSERT_TRUE(GetSafePath(L"   ", szOut));
    EXPECT_STREQ(L"", szOut);
    ASSERT_TRUE(GetSafePath(L"a", szOut));
    EXPECT_STREQ(L"a", szOut);
}

TEST(SafePath, ResultMustFit)
{
    wchar_t szOut[kPathChars];
    std::wstring path(kPathChars - 3, L'a');
    path[10] = L' ';
    ASSERT_TRUE(GetSafePath(path.c_str(), szOut));
    EXPECT_EQ(static_cast<size_t>(kPathChars - 1), wcslen(szOut));
    path += L"a";  // quoted, one character too many
    EXPECT_FALSE(GetSafePath(path.c_str(), szOut));
    EXPECT_STREQ(L"", szOut);
    // Trimmed white space does not count.
    std::wstring padded = L"    " + std::wstring(kPathChars - 1, L'b') + L"    ";
    EXPECT_TRUE(GetSafePath(padded.c_str(), szOut));
    EXPECT_FALSE(GetSafePath(nullptr, szOut));
}

namespace {

WTSINFOEXW SessionRecord(DWORD dwLevel, DWORD dwFlags)
{
    WTSINFOEXW info = {};
    info.Level = dwLevel;
    info.Data.WTSInfoExLevel1.SessionFlags = static_cast<LONG>(dwFlags);
    return info;
}

}  // namespace

TEST(SessionLock, LockedOnlyForASuccessfulLevelOneLockRecord)
{
    WTSINFOEXW locked = SessionRecord(1, WTS_SESSIONSTATE_LOCK);
    EXPECT_TRUE(IsSessionInfoLocked(TRUE, &locked, sizeof(locked)));
    EXPECT_FALSE(IsSessionInfoLocked(FALSE, &locked, sizeof(locked)));
    EXPECT_FALSE(IsSessionInfoLocked(TRUE, &locked, 0));
    EXPECT_FALSE(IsSessionInfoLocked(TRUE, nullptr, sizeof(locked)));
    WTSINFOEXW levelTwo = SessionRecord(2, WTS_SESSIONSTATE_LOCK);
    EXPECT_FALSE(IsSessionInfoLocked(TRUE, &levelTwo, sizeof(levelTwo)));
    WTSINFOEXW unlocked = SessionRecord(1, WTS_SESSIONSTATE_UNLOCK);
    EXPECT_FALSE(IsSessionInfoLocked(TRUE, &unlocked, sizeof(unlocked)));
    WTSINFOEXW unknown = SessionRecord(1, WTS_SESSIONSTATE_UNKNOWN);
    EXPECT_FALSE(IsSessionInfoLocked(TRUE, &unknown, sizeof(unknown)));
}

TEST(SessionLock, ShortAnswerIsNotReadBeyondItsEnd)
{
    // The flags lie 16 bytes into the record; an answer that stops before them does not
    // count, whatever the memory after it holds.
    WTSINFOEXW locked = SessionRecord(1, WTS_SESSIONSTATE_LOCK);
    EXPECT_FALSE(IsSessionInfoLocked(TRUE, &locked, 4));
    EXPECT_FALSE(IsSessionInfoLocked(TRUE, &locked, 19));
    EXPECT_TRUE(IsSessionInfoLocked(TRUE, &locked, 20));
}

TEST(ServiceLogFormat, TimeIsTwelveHourWithoutMarker)
{
    struct tm afternoon = {};
    afternoon.tm_hour = 13;
    afternoon.tm_min = 5;
    afternoon.tm_sec = 9;
    struct tm night = afternoon;
    night.tm_hour = 1;
    struct tm midnight = afternoon;
    midnight.tm_hour = 0;
    wchar_t szAfternoon[kServiceLogLineChars], szNight[kServiceLogLineChars], szMidnight[kServiceLogLineChars];
    FormatServiceLogTime(afternoon, szAfternoon);
    FormatServiceLogTime(night, szNight);
    FormatServiceLogTime(midnight, szMidnight);
    EXPECT_STREQ(L"01:05:09", szAfternoon);
    EXPECT_STREQ(szAfternoon, szNight);
    EXPECT_STREQ(L"12:05:09", szMidnight);
}

TEST(ServiceLogFormat, LineLayout)
{
    wchar_t szLine[kServiceLogLineChars];
    const int cch = FormatServiceLogLine(4242, L"01:05:09", L"tovin read", szLine);
    EXPECT_STREQ(L"Pid:4242  01:05:09  tovin read \r\n", szLine);
    EXPECT_EQ(static_cast<int>(wcslen(szLine)), cch);
    FormatServiceLogLine(7, L"01:05:09", L"", szLine);
    EXPECT_STREQ(L"Pid:7  01:05:09   \r\n", szLine);
    FormatServiceLogLine(7, L"01:05:09", nullptr, szLine);
    EXPECT_STREQ(L"Pid:7  01:05:09   \r\n", szLine);
}

TEST(ServiceLogFormat, LongMessageIsCutAndKeepsTheLineEnding)
{
    wchar_t szLine[kServiceLogLineChars];
    const std::wstring head = L"Pid:4242  01:05:09  ";
    const std::wstring fits(kServiceLogLineChars - 1 - head.size() - 3, L'm');
    int cch = FormatServiceLogLine(4242, L"01:05:09", fits.c_str(), szLine);
    EXPECT_EQ(kServiceLogLineChars - 1, cch);
    EXPECT_EQ(head + fits + L" \r\n", std::wstring(szLine));

    const std::wstring longer = fits + L"XYZ" + std::wstring(600, L'q');
    cch = FormatServiceLogLine(4242, L"01:05:09", longer.c_str(), szLine);
    EXPECT_EQ(kServiceLogLineChars - 1, cch);
    EXPECT_EQ(head + fits + L" \r\n", std::wstring(szLine));
    EXPECT_EQ(L'\0', szLine[kServiceLogLineChars - 1]);
}

TEST(ServiceLogFormat, CutNeverSplitsASurrogatePair)
{
    wchar_t szLine[kServiceLogLineChars];
    const std::wstring head = L"Pid:1  01:05:09  ";
    // The pair would straddle the last free character.
    std::wstring message(kServiceLogLineChars - 1 - head.size() - 3 - 1, L'm');
    message += L"\xD83D\xDE00tail";
    const int cch = FormatServiceLogLine(1, L"01:05:09", message.c_str(), szLine);
    const std::wstring line(szLine);
    EXPECT_EQ(static_cast<int>(line.size()), cch);
    EXPECT_EQ(std::wstring::npos, line.find(L'\xD83D'));
    EXPECT_EQ(L" \r\n", line.substr(line.size() - 3));
}
