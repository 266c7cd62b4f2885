// The service's pure rules: the command-line vector and verbs, the image path, the safe
// path, the session-lock decision and the service log's line and time formats.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstddef>
#include <cstring>
#include <ctime>
#include <string>

#include <sddl.h>

#include "ReadLoop.h"
#include "ScopedHandle.h"
#include "SettingsFile.h"
#include "SharedTrust.h"
#include "ServiceCommand.h"
#include "PowerRules.h"
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
    ParseTail("", &nArgc);
    EXPECT_EQ(1, nArgc);
}

TEST(ServiceCommandLine, TailGivesTheVerbItsLogWordAndTheDelayedOption)
{
    struct STail {
        const char* pszTail;
        ServiceVerb eVerb;
        const wchar_t* pszWord;  // as logged, upper-cased; empty for no verb
        bool bDelayed;
    };
    const STail kTails[] = {
        {"", ServiceVerb::RunService, L"", false},
        {nullptr, ServiceVerb::RunService, L"", false},
        // The verb is the second word of the tail, in either case.
        {"x -I", ServiceVerb::Install, L"-I", false},
        {"anything -i", ServiceVerb::Install, L"-I", false},
        {"x -u", ServiceVerb::Uninstall, L"-U", false},
        {"x -S", ServiceVerb::Start, L"-S", false},
        {"x -k", ServiceVerb::Stop, L"-K", false},
        // A tail of only -I puts -I in element 0: the service entry runs.
        {"-I", ServiceVerb::RunService, L"", false},
        // -I D reads D as the verb: nothing happens.
        {"-I D", ServiceVerb::Ignored, L"", false},
        // Only exact two-character verbs count, and only ASCII letters are upper-cased.
        {"x -IX", ServiceVerb::Ignored, L"", false},
        {"x I", ServiceVerb::Ignored, L"", false},
        {"x -", ServiceVerb::Ignored, L"", false},
        {"x /I", ServiceVerb::Ignored, L"", false},
        {"x -X", ServiceVerb::Ignored, L"", false},
        {"x \"\"", ServiceVerb::Ignored, L"", false},
        {"x -\xEF", ServiceVerb::Ignored, L"", false},
        // Delayed start only for exactly D (either case) after -I.
        {"x -i d", ServiceVerb::Install, L"-I", true},
        {"x -I D more", ServiceVerb::Install, L"-I", true},
        {"x -I DD", ServiceVerb::Install, L"-I", false},
        {"x -I x", ServiceVerb::Install, L"-I", false},
        {"x -S D", ServiceVerb::Start, L"-S", false},
    };
    for (const STail& row : kTails) {
        const ServiceCommand cmd = ParseTail(row.pszTail);
        const std::string tail = row.pszTail ? row.pszTail : "(null)";
        EXPECT_EQ(row.eVerb, cmd.eVerb) << tail;
        EXPECT_STREQ(row.pszWord, cmd.szVerb) << tail;
        EXPECT_EQ(row.bDelayed, cmd.bDelayedStart != FALSE) << tail;
    }
}

TEST(ServiceCommandLine, NoVectorIsInvalid)
{
    EXPECT_EQ(ServiceVerb::NoArguments, ParseServiceCommand(0, nullptr).eVerb);
    wchar_t szArg[] = L"x";
    LPWSTR argv[] = {szArg};
    EXPECT_EQ(ServiceVerb::NoArguments, ParseServiceCommand(0, argv).eVerb);
    EXPECT_EQ(ServiceVerb::NoArguments, ParseServiceCommand(2, nullptr).eVerb);
}

namespace {

// Each input with the path it gives, or nullptr when it is refused.
struct SPathCase {
    const wchar_t* pszIn;
    const wchar_t* pszOut;
};

void ExpectPaths(bool (*pfnBuild)(const wchar_t*, wchar_t (&)[kPathChars]), const SPathCase* pCases, size_t nCases)
{
    for (size_t i = 0; i < nCases; ++i) {
        const SPathCase& row = pCases[i];
        const std::wstring in = row.pszIn ? row.pszIn : L"(null)";
        wchar_t szOut[kPathChars];
        EXPECT_EQ(row.pszOut != nullptr, pfnBuild(row.pszIn, szOut)) << testing::PrintToString(in);
        EXPECT_STREQ(row.pszOut ? row.pszOut : L"", szOut) << testing::PrintToString(in);
    }
}

}  // namespace

TEST(ImagePath, ExtensionBecomesQuotesOtherShapesAreKeptOrRefused)
{
    const SPathCase kCases[] = {
        {L"C:\\X\\Glimward.exe", L"\"C:\\X\\Glimward\""},
        {L"C:\\Program Files (x86)\\Vessik\\Glimkit\\Glimward.exe",
         L"\"C:\\Program Files (x86)\\Vessik\\Glimkit\\Glimward\""},
        // No dot four places from the end: kept as it is (GetSafePath still quotes spaces).
        {L"C:\\X\\Glimward", L"C:\\X\\Glimward"},
        {L".exe", L"\"\""},
        {L"", nullptr},
        {nullptr, nullptr},
    };
    ExpectPaths(BuildImagePath, kCases, sizeof(kCases) / sizeof(kCases[0]));

    // The longest path that fits, and one character more.
    wchar_t szOut[kPathChars];
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
    const SPathCase kCases[] = {
        {L" \t\r\nC:\\A B\\s.exe \v\f", L"\"C:\\A B\\s.exe\""},
        {L"C:\\AB\\s.exe", L"C:\\AB\\s.exe"},
        // Already quoted at either end: left alone.
        {L"  \"C:\\A B\\s\"  ", L"\"C:\\A B\\s\""},
        {L"\"C:\\A B\\s.exe -x", L"\"C:\\A B\\s.exe -x"},
        {L"C:\\A B\\s.exe\"", L"C:\\A B\\s.exe\""},
        // Shorter than two characters: never quoted.
        {L"   ", L""},
        {L"a", L"a"},
    };
    ExpectPaths(GetSafePath, kCases, sizeof(kCases) / sizeof(kCases[0]));
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

TEST(SessionLock, LockedOnlyForASuccessfulLevelOneLockRecordReadWithinItsEnd)
{
    struct SAnswer {
        BOOL bOk;
        DWORD dwLevel;
        DWORD dwFlags;
        DWORD cb;  // 0xFFFFFFFF: the whole record
        bool bNoRecord;
        bool bLocked;
    };
    constexpr DWORD kWhole = 0xFFFFFFFF;
    const SAnswer kAnswers[] = {
        {TRUE, 1, WTS_SESSIONSTATE_LOCK, kWhole, false, true},
        {FALSE, 1, WTS_SESSIONSTATE_LOCK, kWhole, false, false},
        {TRUE, 1, WTS_SESSIONSTATE_LOCK, 0, false, false},
        {TRUE, 1, WTS_SESSIONSTATE_LOCK, kWhole, true, false},
        {TRUE, 2, WTS_SESSIONSTATE_LOCK, kWhole, false, false},
        {TRUE, 1, WTS_SESSIONSTATE_UNLOCK, kWhole, false, false},
        {TRUE, 1, static_cast<DWORD>(WTS_SESSIONSTATE_UNKNOWN), kWhole, false, false},
        // The flags lie 16 bytes into the record; an answer that stops before them does not
        // count, whatever the memory after it holds.
        {TRUE, 1, WTS_SESSIONSTATE_LOCK, 4, false, false},
        {TRUE, 1, WTS_SESSIONSTATE_LOCK, 19, false, false},
        {TRUE, 1, WTS_SESSIONSTATE_LOCK, 20, false, true},
    };
    for (const SAnswer& row : kAnswers) {
        WTSINFOEXW info = {};
        info.Level = row.dwLevel;
        info.Data.WTSInfoExLevel1.SessionFlags = static_cast<LONG>(row.dwFlags);
        const DWORD cb = row.cb == kWhole ? static_cast<DWORD>(sizeof(info)) : row.cb;
        EXPECT_EQ(row.bLocked, IsSessionInfoLocked(row.bOk, row.bNoRecord ? nullptr : &info, cb))
            << "ok " << row.bOk << ", level " << row.dwLevel << ", flags " << static_cast<LONG>(row.dwFlags)
            << ", bytes " << cb << (row.bNoRecord ? ", no record" : "");
    }
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

// Any process may create the service's mutex first; only a service process that runs keeps
// a second copy out. While the manager starts the service it reads as start-pending.
TEST(ServiceMutex, OnlyARunningServiceKeepsASecondCopyOut)
{
    const struct {
        DWORD dwState;
        bool bRunning;
    } kStates[] = {
        {0, false},
        {SERVICE_STOPPED, false},
        {SERVICE_START_PENDING, false},
        {SERVICE_RUNNING, true},
        {SERVICE_STOP_PENDING, true},
        {SERVICE_PAUSE_PENDING, true},
        {SERVICE_PAUSED, true},
        {SERVICE_CONTINUE_PENDING, true},
    };
    for (const auto& row : kStates)
        EXPECT_EQ(row.bRunning, IsServiceProcessRunning(row.dwState)) << "state " << row.dwState;
}

// SYSTEM writes its log only into the plain file at the log's own path.
TEST(ServiceLogTrust, OnlyThePlainFileAtItsOwnPathIsWritten)
{
    const wchar_t* const kExpected = L"\\\\?\\C:\\ProgramData\\Vessik\\Glimkit\\Service.log";
    const struct {
        DWORD dwAttributes;
        DWORD dwLinks;
        const wchar_t* pszFinal;
        bool bTrusted;
    } kCases[] = {
        {FILE_ATTRIBUTE_ARCHIVE, 1, kExpected, true},
        {FILE_ATTRIBUTE_NORMAL, 1, L"\\\\?\\c:\\programdata\\vessik\\glimkit\\service.LOG", true},
        {FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT, 1, kExpected, false},
        {FILE_ATTRIBUTE_DIRECTORY, 1, kExpected, false},
        {FILE_ATTRIBUTE_ARCHIVE, 2, kExpected, false},
        {FILE_ATTRIBUTE_ARCHIVE, 0, kExpected, false},
        {FILE_ATTRIBUTE_ARCHIVE, 1, L"\\\\?\\C:\\Windows\\System32\\drivers\\etc\\hosts", false},
        {FILE_ATTRIBUTE_ARCHIVE, 1, L"\\\\?\\C:\\ProgramData\\Vessik\\Glimkit\\Service.log.txt", false},
        {FILE_ATTRIBUTE_ARCHIVE, 1, L"", false},
        {FILE_ATTRIBUTE_ARCHIVE, 1, nullptr, false},
    };
    for (const auto& row : kCases) {
        EXPECT_EQ(row.bTrusted, IsPlainFileAtOwnPath(row.dwAttributes, row.dwLinks, row.pszFinal, kExpected))
            << "attributes " << row.dwAttributes << ", links " << row.dwLinks << ", final "
            << testing::PrintToString(std::wstring(row.pszFinal ? row.pszFinal : L"(null)"));
    }
    EXPECT_FALSE(IsPlainFileAtOwnPath(FILE_ATTRIBUTE_ARCHIVE, 1, kExpected, L"")) << "no expected path";
}

// A service reaches a user session's named objects as "Session\<id>\<name>"; with no console
// session (0xFFFFFFFF) or a name that does not fit there is none to take.
TEST(SettingsSessionLock, NameIsTheSessionPathOfTheObject)
{
    const struct {
        DWORD dwSession;
        const wchar_t* pszName;
        const wchar_t* pszExpected;  // nullptr: no name
    } kCases[] = {
        {1, L"mut_conf", L"Session\\1\\mut_conf"},
        {0, L"mut_conf", L"Session\\0\\mut_conf"},
        {4294967294u, L"mut_conf", L"Session\\4294967294\\mut_conf"},
        {0xFFFFFFFFu, L"mut_conf", nullptr},
        {2, L"", nullptr},
        {2, nullptr, nullptr},
        // 63 characters and its terminator fill the buffer; one more does not fit.
        {2, L"nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn_fits_here",
         L"Session\\2\\nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn_fits_here"},
        {2, L"nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn_too_long1", nullptr},
    };
    for (const auto& row : kCases) {
        wchar_t szName[CSettingsFile::kSessionNameChars];
        wmemset(szName, L'#', CSettingsFile::kSessionNameChars);
        const bool bBuilt = CSettingsFile::BuildSessionObjectName(row.dwSession, row.pszName, szName);
        const std::string what = "session " + std::to_string(row.dwSession) + ", name " +
            testing::PrintToString(std::wstring(row.pszName ? row.pszName : L"(null)"));
        EXPECT_EQ(row.pszExpected != nullptr, bBuilt) << what;
        EXPECT_EQ(std::wstring(row.pszExpected ? row.pszExpected : L""), std::wstring(szName)) << what;
    }
}

// Only a descriptor that lets SYSTEM and Administrators in, and nobody else, is the service's
// own kind; a missing owner (Wine records none for an event made without security) or the
// caller's own token owner passes, another owner does not.
TEST(ObjectSecurity, OnlySystemAndAdministratorsAreTheServicesOwnKind)
{
    const struct {
        const wchar_t* pszSddl;
        bool bOwn;
    } kCases[] = {
        {L"D:P(A;;0x1f0003;;;SY)(A;;0x1f0003;;;BA)", true},
        {L"O:SYD:P(A;;0x1f0003;;;SY)(A;;0x1f0003;;;BA)", true},
        {L"O:BAD:(A;;0x1f0001;;;SY)", true},
        {L"O:S-1-5-21-1-2-3-1001D:P(A;;0x1f0003;;;SY)(A;;0x1f0003;;;BA)", false},
        {L"O:S-1-5-21-0-0-0-513D:P(A;;0x1f0003;;;SY)(A;;0x1f0003;;;BA)", true},
        {L"D:NO_ACCESS_CONTROL", false},
        {L"D:P", false},
        {L"D:(A;;0x1f0003;;;WD)", false},
        {L"D:P(A;;0x1f0003;;;SY)(A;;0x1f0003;;;BA)(A;;0x100000;;;BU)", false},
        {L"D:P(A;;0x1f0003;;;SY)(A;;0x1f0003;;;AU)", false},
        {L"D:P(D;;0x1f0003;;;SY)(A;;0x1f0003;;;BA)", false},
        {L"O:SY", false},
    };
    CScopedLocalMemory pOwnOwner;
    ASSERT_TRUE(ConvertStringSidToSidW(L"S-1-5-21-0-0-0-513", pOwnOwner.Put()));
    for (const auto& row : kCases) {
        CScopedLocalMemory pSd;
        ASSERT_TRUE(
            ConvertStringSecurityDescriptorToSecurityDescriptorW(row.pszSddl, SDDL_REVISION_1, pSd.Put(), nullptr))
            << testing::PrintToString(std::wstring(row.pszSddl));
        PSID pOwner = nullptr;
        PACL pDacl = nullptr;
        BOOL bPresent = FALSE;
        BOOL bDefaulted = FALSE;
        ASSERT_TRUE(GetSecurityDescriptorOwner(pSd.Get(), &pOwner, &bDefaulted));
        ASSERT_TRUE(GetSecurityDescriptorDacl(pSd.Get(), &bPresent, &pDacl, &bDefaulted));
        EXPECT_EQ(row.bOwn, IsSystemAndAdministratorsOnly(pOwner, bPresent ? pDacl : nullptr, pOwnOwner.Get()))
            << testing::PrintToString(std::wstring(row.pszSddl));
    }
}

namespace {

// A POWERBROADCAST_SETTING whose data ends where readable memory ends: reading past
// DataLength faults instead of passing unseen. Unreadable() is event data nobody may read.
class CSettingAtPageEnd {
public:
    CSettingAtPageEnd(const GUID& setting, DWORD cbData, DWORD dwValue)
    {
        SYSTEM_INFO info = {};
        GetSystemInfo(&info);
        m_pBase = static_cast<BYTE*>(VirtualAlloc(nullptr, 2 * info.dwPageSize, MEM_COMMIT, PAGE_READWRITE));
        DWORD dwOld = 0;
        if (!m_pBase || !VirtualProtect(m_pBase + info.dwPageSize, info.dwPageSize, PAGE_NOACCESS, &dwOld))
            return;
        m_pUnreadable = m_pBase + info.dwPageSize;
        BYTE* pSetting = m_pUnreadable - cbData - offsetof(POWERBROADCAST_SETTING, Data);
        std::memcpy(pSetting, &setting, sizeof(GUID));
        std::memcpy(pSetting + offsetof(POWERBROADCAST_SETTING, DataLength), &cbData, sizeof(DWORD));
        std::memcpy(pSetting + offsetof(POWERBROADCAST_SETTING, Data), &dwValue, cbData < 4 ? cbData : 4);
        m_pSetting = reinterpret_cast<POWERBROADCAST_SETTING*>(pSetting);
    }
    ~CSettingAtPageEnd() { VirtualFree(m_pBase, 0, MEM_RELEASE); }
    CSettingAtPageEnd(const CSettingAtPageEnd&) = delete;
    CSettingAtPageEnd& operator=(const CSettingAtPageEnd&) = delete;
    const POWERBROADCAST_SETTING* Get() const { return m_pSetting; }
    const void* Unreadable() const { return m_pUnreadable; }

private:
    BYTE* m_pBase = nullptr;
    BYTE* m_pUnreadable = nullptr;
    POWERBROADCAST_SETTING* m_pSetting = nullptr;
};

}  // namespace

// One power event at a time: only Modern Standby restores on the display, and only on "on"
// after "off" (not the report right after the registration, not dimmed, not another setting);
// the value is read only from a whole DWORD; suspend and resume data is never read, and a
// wake with nobody there (18, PBT_APMRESUMEAUTOMATIC) restores nothing.
TEST(ServicePowerRule, EachEventAndItsData)
{
    constexpr DWORD kNoData = 0xFFFFFFFF;  // the event's data is unreadable memory
    struct SCase {
        bool bAoAc;
        DWORD dwEvent;
        const GUID* pSetting;
        DWORD cbData;
        DWORD dwValue;
        bool bWasOff;
        PowerAction expected;
        bool bOffAfter;
    } const kCases[] = {
        {true, kPbtPowerSettingChange, &GUID_MONITOR_POWER_ON, 4, kMonitorOn, true, PowerAction::RestoreAfterDisplayOn,
         false},
        {true, kPbtPowerSettingChange, &GUID_MONITOR_POWER_ON, 6, kMonitorOn, true, PowerAction::RestoreAfterDisplayOn,
         false},
        {true, kPbtPowerSettingChange, &GUID_MONITOR_POWER_ON, 4, kMonitorOn, false, PowerAction::None, false},
        {true, kPbtPowerSettingChange, &GUID_MONITOR_POWER_ON, 4, kMonitorOff, false, PowerAction::None, true},
        {true, kPbtPowerSettingChange, &GUID_MONITOR_POWER_ON, 4, 2, true, PowerAction::None, true},
        {true, kPbtPowerSettingChange, &GUID_ACDC_POWER_SOURCE, 4, 1, true, PowerAction::None, true},
        {false, kPbtPowerSettingChange, &GUID_MONITOR_POWER_ON, 4, kMonitorOn, true, PowerAction::None, true},
        {false, kPbtPowerSettingChange, &GUID_MONITOR_POWER_ON, 4, kMonitorOff, false, PowerAction::None, false},
        {true, kPbtPowerSettingChange, &GUID_MONITOR_POWER_ON, 0, kMonitorOn, true, PowerAction::None, true},
        {true, kPbtPowerSettingChange, &GUID_MONITOR_POWER_ON, 3, kMonitorOn, true, PowerAction::None, true},
        {true, kPbtSuspend, nullptr, kNoData, 0, true, PowerAction::LogSuspend, true},
        {true, kPbtResumeSuspend, nullptr, kNoData, 0, true, PowerAction::RestoreAfterResume, true},
        {false, kPbtResumeSuspend, nullptr, kNoData, 0, false, PowerAction::RestoreAfterResume, false},
        {true, 18, nullptr, kNoData, 0, true, PowerAction::None, true},
    };
    for (const SCase& row : kCases) {
        const CSettingAtPageEnd data(row.pSetting ? *row.pSetting : GUID_MONITOR_POWER_ON,
                                     row.cbData == kNoData ? 4 : row.cbData, row.dwValue);
        ASSERT_NE(nullptr, data.Get());
        const void* pvData = row.cbData == kNoData ? data.Unreadable() : data.Get();
        const SPowerStep step = NextPowerStep(row.bAoAc, row.dwEvent, pvData, row.bWasOff);
        const std::string what = "event " + std::to_string(row.dwEvent) + " AoAc " + std::to_string(row.bAoAc) +
            " bytes " + std::to_string(row.cbData) + " value " + std::to_string(row.dwValue);
        EXPECT_EQ(row.expected, step.action) << what;
        EXPECT_EQ(row.bOffAfter, step.bDisplayOff) << what;
    }
    EXPECT_EQ(PowerAction::None, NextPowerStep(true, kPbtPowerSettingChange, nullptr, true).action);
}
