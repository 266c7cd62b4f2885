// What the stand-in wtsapi32.dll answers for the console session, as the tests and the
// demo set it: HKLM\Software\Vessik\GlimkitSim\Session, DWORD values. Without the key the
// session reads as unlocked.
#pragma once

#include <windows.h>

namespace simsession {

constexpr const wchar_t* kRegKey = L"Software\\Vessik\\GlimkitSim\\Session";
// WTS_SESSIONSTATE_LOCK (0), WTS_SESSIONSTATE_UNLOCK (1) or WTS_SESSIONSTATE_UNKNOWN (-1).
constexpr const wchar_t* kValueSessionFlags = L"SessionFlags";
// The record's level; 1 unless a test asks for another.
constexpr const wchar_t* kValueLevel = L"Level";
// Non-zero: the query fails with this error code instead of answering.
constexpr const wchar_t* kValueFailWith = L"FailWith";
// Non-zero: WTSQueryUserToken fails with this error code (as it does on Windows with
// ERROR_NO_TOKEN when nobody is logged on at the console).
constexpr const wchar_t* kValueTokenFailWith = L"TokenFailWith";
// Counts the WTSSessionInfoEx queries answered, so a test can see the stand-in was used.
constexpr const wchar_t* kValueQueries = L"Queries";
// REG_QWORD: QueryPerformanceCounter at the last query, so a benchmark can see when the
// service woke on a press (the simulated driver stamps its requests with the same counter).
constexpr const wchar_t* kValueLastQueryCounter = L"LastQueryCounter";

constexpr DWORD kFlagsLocked = 0;
constexpr DWORD kFlagsUnlocked = 1;
constexpr DWORD kFlagsUnknown = 0xFFFFFFFF;

}  // namespace simsession
