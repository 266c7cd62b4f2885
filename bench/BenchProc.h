// What a process costs, seen whole: CPU time including its ended threads, resident memory,
// threads and handles. Under Wine the figures come from the Linux side (/proc of the Wine
// process, read through Wine's Z: drive), since Wine's GetProcessTimes on another process
// answers with the caller's own times and GetThreadTimes misses ended threads; on Windows
// they come from GetProcessTimes and friends.
#pragma once

#include <windows.h>

namespace bench {

bool RunsUnderWine();

// One reading of a process. Fields that could not be read stay -1.
struct SProcSample {
    double dCpuMs = -1;  // user + system since the process started
    long lRssKb = -1;    // resident set
    long lThreads = -1;  // threads now (under Wine: the Unix threads, Wine's own included)
    long lHandles = -1;  // open handles now
};

// One watched process: a Windows process, and under Wine its Unix process.
class CWatchedProcess {
public:
    // dwWinPid: the Windows process id (0 for the wineserver, which has none).
    // pszUnixName: under Wine, the file name its Linux command line holds ("Glimagent.exe",
    // "wineserver"); the newest such process of this Wine prefix is taken.
    CWatchedProcess(DWORD dwWinPid, const wchar_t* pszUnixName);
    virtual ~CWatchedProcess();
    CWatchedProcess(const CWatchedProcess&) = delete;
    CWatchedProcess& operator=(const CWatchedProcess&) = delete;

    bool Found() const { return m_dwUnixPid != 0 || m_hProcess != nullptr; }
    DWORD UnixPid() const { return m_dwUnixPid; }
    SProcSample Sample() const;

private:
    DWORD m_dwWinPid;
    DWORD m_dwUnixPid = 0;
    HANDLE m_hProcess = nullptr;
};

// Open handles of a Windows process, from the system's handle table; -1 when unknown.
long HandleCount(DWORD dwWinPid);

}  // namespace bench
