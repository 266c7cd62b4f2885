// The service's own diagnostics log: one UTF-16 line per message, appended to a file that
// someone else has created. Without the file nothing is written.
#pragma once

#include <windows.h>

#include <ctime>

#include "Lock.h"
#include "SharedTrust.h"

namespace glim {

constexpr int kServiceLogLineChars = 260;  // a line holds at most 259 characters

// "%I:%M:%S": 12-hour clock without AM/PM and without a date.
void FormatServiceLogTime(const struct tm& time, wchar_t (&szOut)[kServiceLogLineChars]);

// "Pid:%d  %s  %s \r\n" into a zeroed buffer. A message too long for the line is cut so the
// line keeps its ending (and never splits a surrogate pair). Returns the character count.
int FormatServiceLogLine(DWORD dwPid, const wchar_t* pszTime, const wchar_t* pszMessage,
                         wchar_t (&szLine)[kServiceLogLineChars]);

class CServiceLog {
public:
    explicit CServiceLog(const wchar_t* pszPath);
    virtual ~CServiceLog();
    CServiceLog(const CServiceLog&) = delete;
    CServiceLog& operator=(const CServiceLog&) = delete;

    // Appends one line when the file exists, is the plain file at its path (IsPlainFileAtOwnPath),
    // and no other writer holds it open.
    void Write(const wchar_t* pszMessage);

    // Formats a printf-style message into a heap buffer of its exact size and writes it.
    void WriteV(const wchar_t* pszFormat, va_list args);

private:
    const wchar_t* m_pszPath;
    CCriticalSection m_cs;
    wchar_t m_szTime[kServiceLogLineChars];
};

}  // namespace glim
