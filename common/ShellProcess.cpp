#include "ShellProcess.h"

#include <tlhelp32.h>

#include "ScopedHandle.h"

DWORD glim::FindExplorerProcessId(DWORD dwSession)
{
    CScopedFile hSnapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!hSnapshot)
        return 0;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL bMore = Process32FirstW(hSnapshot.Get(), &entry); bMore;
         bMore = Process32NextW(hSnapshot.Get(), &entry)) {
        if (lstrcmpiW(entry.szExeFile, L"explorer.exe") != 0)
            continue;
        DWORD dwProcessSession = 0;
        if (ProcessIdToSessionId(entry.th32ProcessID, &dwProcessSession) && dwProcessSession == dwSession)
            return entry.th32ProcessID;
    }
    return 0;
}
