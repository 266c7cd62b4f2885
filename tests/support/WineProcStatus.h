// Threads and resident memory of another process. Windows reports a process's handle count
// (GetProcessHandleCount); under Wine that answers 0 for another process, since handles
// live in the wineserver. There the Linux /proc of the Wine process, read through Wine's
// Z: drive, gives its threads and resident memory instead.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace glimtest {

struct SUsage {
    DWORD dwHandles = 0;              // GetProcessHandleCount; 0 where the platform does not say
    DWORD dwThreads = 0;              // /proc/<pid>/status "Threads:"
    unsigned long long ullRssKb = 0;  // /proc/<pid>/status "VmRSS:"
};

// True when the Linux /proc of the Wine processes is readable from here (Z:\proc).
bool LinuxProcReadable();

// The Linux pids of this Wine prefix's processes started as the given program: the first
// word of their command line names it, with or without folder and ".exe" (Wine shows the
// command line a process was given, so a relay started by its command word alone is not
// among them).
std::vector<DWORD> LinuxPidsOf(const std::wstring& program);

// The usage of one process: the handle count through its Windows pid (0 to skip) and
// threads and memory through its Linux pid (0 to skip). False when a figure that was asked
// for could not be read.
bool ReadUsage(DWORD dwWindowsPid, DWORD dwLinuxPid, SUsage* pUsage);

}  // namespace glimtest
