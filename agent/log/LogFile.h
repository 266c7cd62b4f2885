// The agent's diagnostics log file: configured under HKLM, UTF-16LE text, one line per
// call, serialised across threads and processes by a Global\ mutex named after the path.
#pragma once

#include <windows.h>

#include <cstdarg>

#include "ScopedHandle.h"

namespace logfilesync {

constexpr int kPathChars = 260;              // paths, mutex names and the line prefix
constexpr int kPrefixChars = 260;            // the line prefix buffer, terminator included
constexpr size_t kFirstMessageChars = 1024;  // the message buffer starts here and doubles
constexpr size_t kMaxMessageChars = size_t(1) << 29;
// How long a line waits for the cross-process mutex. Any local process may take it, and
// the listener threads log before they hand a press on: a holder that never lets go may
// cost a line, never the hotkey.
constexpr DWORD kLockWaitMs = 1000;

// Registry configuration, read in the 64-bit view of HKEY_LOCAL_MACHINE.
constexpr const wchar_t* kValueEnabled = L"enabled";
constexpr const wchar_t* kValueLogPath = L"logpath";
constexpr const wchar_t* kValueAppend = L"append";
constexpr const wchar_t* kValueLogLevel = L"loglevel";
constexpr const wchar_t* kPrefixFormat = L"%04d/%02d/%02d %02d:%02d:%02d.%03d|%c|%06d|%06d|%s(L%d): ";

// The mutex name for a log path: the path without blanks, '.' and '\', cut after 252
// kept characters, behind "Global\". False (and an empty name) when nothing is kept.
bool BuildMutexName(const wchar_t* pszPath, wchar_t (&szName)[kPathChars]);

// Formats the line prefix into szPrefix. Returns its length in characters, or -1 when it
// does not fit in kPrefixChars (an over-long function name).
int FormatLinePrefix(wchar_t (&szPrefix)[kPrefixChars], const SYSTEMTIME& st, char chLevel, DWORD dwProcessId,
                     DWORD dwThreadId, const wchar_t* pszFunction, int nLine);

// Formats a message into a zeroed heap buffer that starts at kFirstMessageChars characters
// and doubles while the text does not fit, up to kMaxMessageChars. Returns the buffer
// (free() it) and its length in *pnChars, or nullptr when the message is empty, the format
// is rejected, memory runs out or the text would exceed the limit.
wchar_t* FormatMessageText(const wchar_t* pszFormat, va_list args, size_t* pnChars);

// Makes the runtime report an invalid parameter (for instance a malformed format) on
// standard output and fail the call instead of ending the process. Stays for the process.
// (The system msvcrt.dll that mingw builds use has no such hook: its functions just fail.)
void InstallInvalidParameterHandler();

class CLogFile {
public:
    // The cross-process mutex of one log path.
    class CMutexLock {
    public:
        CMutexLock();
        virtual ~CMutexLock();
        CMutexLock(const CMutexLock&) = delete;
        CMutexLock& operator=(const CMutexLock&) = delete;

        // Creates the named mutex (or opens an existing one) with access for everyone.
        // Fails when a mutex is already held or none can be had.
        bool Create(const wchar_t* pszName);
        // 0 when owned (also after an abandoned wait), 170 after kLockWaitMs (or
        // dwTimeoutMs) without it, 21 without a mutex.
        DWORD Lock();
        DWORD Lock(DWORD dwTimeoutMs);
        DWORD Unlock();  // 0 when released, 21 without a mutex
        void Close();
        bool IsValid() const { return m_bValid != FALSE; }

    private:
        glim::CScopedHandle m_hMutex;
        DWORD m_dwTimeout;
        BOOL m_bValid;
    };

    CLogFile();
    virtual ~CLogFile();
    CLogFile(const CLogFile&) = delete;
    CLogFile& operator=(const CLogFile&) = delete;

    // Reads the registry configuration and opens the file when logging is on. True when
    // the log is ready to write.
    bool LoadConfig();
    // Creates the mutex and opens or creates the file (emptied, with a byte-order mark,
    // when append is 0).
    bool Open();
    // Writes one line. True when the whole line was written. A line that cannot have the
    // mutex in time is dropped and counted; the next written line is preceded by a 'W' line
    // that tells how many were lost.
    bool Log(char chLevel, const wchar_t* pszFunction, int nLine, const wchar_t* pszFormat, ...);
    bool LogV(char chLevel, const wchar_t* pszFunction, int nLine, const wchar_t* pszFormat, va_list args);
    // Closes the file and the mutex. A line being written by another thread finishes first.
    void Close();
    bool IsOpen();

    // The number of a level letter: V 0, D 1, I 2, W 3, E 4, anything else 0.
    DWORD LevelNumber(char chLevel) const;

    // Configuration as read by LoadConfig (also settable for tests of Open).
    DWORD m_dwEnabled;
    wchar_t m_szLogPath[kPathChars];
    DWORD m_dwAppend;
    DWORD m_dwLogLevel;

private:
    bool OpenLocked();
    bool WriteLine(char chLevel, const wchar_t* pszFunction, int nLine, const wchar_t* pszMessage, size_t nChars);
    bool WriteAt(char chLevel, const wchar_t* pszFunction, int nLine, const wchar_t* pszMessage, size_t nChars);
    void WriteDroppedNote();
    void CloseFile();

    glim::CScopedFile m_hFile;
    DWORD m_adwLevel[128];
    CMutexLock m_lock;
    // Lines dropped since the last written one because the mutex stayed taken. While any
    // are pending a line only tries the mutex, so a stuck holder costs one wait, not one
    // per line.
    volatile LONG m_lDropped;
    // Guards m_hFile and the mutex handle within the process: a line holds it shared while
    // it writes, Open and Close hold it exclusively, so a Close never pulls a handle from
    // under a write (a closed handle value may be reused by an unrelated object).
    SRWLOCK m_srwHandles;
};

}  // namespace logfilesync
