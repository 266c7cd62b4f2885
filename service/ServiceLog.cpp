#include "ServiceLog.h"

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <new>

#include "ScopedHandle.h"

namespace glim {

void FormatServiceLogTime(const struct tm& time, wchar_t (&szOut)[kServiceLogLineChars])
{
    if (wcsftime(szOut, kServiceLogLineChars, L"%I:%M:%S", &time) == 0)
        szOut[0] = L'\0';
}

int FormatServiceLogLine(DWORD dwPid, const wchar_t* pszTime, const wchar_t* pszMessage,
                         wchar_t (&szLine)[kServiceLogLineChars])
{
    static const wchar_t kEnding[] = L" \r\n";
    constexpr int cchEnding = 3;
    constexpr int cchMax = kServiceLogLineChars - 1;
    wmemset(szLine, L'\0', kServiceLogLineChars);
    // The head leaves room for the ending; a time text too long for that is cut as well.
    int cchHead =
        _snwprintf(szLine, cchMax - cchEnding, L"Pid:%d  %s  ", static_cast<int>(dwPid), pszTime ? pszTime : L"");
    if (cchHead < 0)
        cchHead = cchMax - cchEnding;
    szLine[cchHead] = L'\0';
    size_t cchMessage = pszMessage ? wcslen(pszMessage) : 0;
    const size_t cchRoom = static_cast<size_t>(cchMax - cchEnding - cchHead);
    if (cchMessage > cchRoom) {
        cchMessage = cchRoom;
        if (cchMessage > 0 && IS_HIGH_SURROGATE(pszMessage[cchMessage - 1]))
            --cchMessage;
    }
    if (cchMessage > 0)
        wmemcpy(szLine + cchHead, pszMessage, cchMessage);
    wmemcpy(szLine + cchHead + cchMessage, kEnding, cchEnding);
    const int cchLine = cchHead + static_cast<int>(cchMessage) + cchEnding;
    szLine[cchLine] = L'\0';
    return cchLine;
}

CServiceLog::CServiceLog(const wchar_t* pszPath) : m_pszPath(pszPath), m_szTime{}
{
}

CServiceLog::~CServiceLog() = default;

void CServiceLog::Write(const wchar_t* pszMessage)
{
    if (!pszMessage)
        return;
    CCritSecLock lock(&m_cs);
    // Opened for every line, so creating or deleting the file takes effect at once; the
    // share mode admits readers only.
    // The link at the last element is opened, never followed, and the file is written only
    // when it is the plain file at the log's own path.
    CScopedFile hFile(CreateFileW(m_pszPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (hFile && JudgeOpenFile(hFile.Get(), m_pszPath) == FileTrust::Plain) {
        const time_t now = time(nullptr);
        const struct tm* pLocal = localtime(&now);
        if (pLocal)
            FormatServiceLogTime(*pLocal, m_szTime);
        else
            m_szTime[0] = L'\0';
        wchar_t szLine[kServiceLogLineChars];
        const int cchLine = FormatServiceLogLine(GetCurrentProcessId(), m_szTime, pszMessage, szLine);
        SetFilePointer(hFile.Get(), 0, nullptr, FILE_END);
        DWORD cbWritten = 0;
        WriteFile(hFile.Get(), szLine, static_cast<DWORD>(cchLine) * sizeof(wchar_t), &cbWritten, nullptr);
        hFile.Reset();  // closed before the next writer may enter
    }
}

void CServiceLog::WriteV(const wchar_t* pszFormat, va_list args)
{
    if (!pszFormat)
        return;
    va_list measure;
    va_copy(measure, args);
    const int cch = _vscwprintf(pszFormat, measure);
    va_end(measure);
    if (cch < 0)
        return;
    wchar_t* pszMessage = new (std::nothrow) wchar_t[static_cast<size_t>(cch) + 1];
    if (!pszMessage)
        return;
    _vsnwprintf(pszMessage, static_cast<size_t>(cch) + 1, pszFormat, args);
    pszMessage[cch] = L'\0';
    Write(pszMessage);
    delete[] pszMessage;
}

}  // namespace glim
