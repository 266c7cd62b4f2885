#include "BenchProc.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "LogTestUtil.h"

namespace bench {

namespace {

// The kernel's USER_HZ: /proc reports CPU times in these ticks on every Linux system.
constexpr double kMsPerClockTick = 10.0;

// SystemHandleInformation and its entries, as ntdll lays them out.
constexpr ULONG kSystemHandleInformation = 16;
constexpr LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);
struct SHandleEntry {
    USHORT usProcessId;
    USHORT usCreatorBackTraceIndex;
    UCHAR ucObjectType;
    UCHAR ucAttributes;
    USHORT usHandle;
    PVOID pObject;
    ULONG ulGrantedAccess;
};
struct SHandleTable {
    ULONG ulCount;
    SHandleEntry entries[1];
};
using PFN_NtQuerySystemInformation = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);

// A whole file of /proc (their sizes read 0, so read until the end).
bool ReadProcFile(const std::wstring& path, std::string* pText)
{
    *pText = glimtest::ReadBytes(path);
    return !pText->empty();
}

std::wstring ProcPath(DWORD dwUnixPid, const wchar_t* pszFile)
{
    return L"Z:\\proc\\" + std::to_wstring(dwUnixPid) + L"\\" + pszFile;
}

// The fields of /proc/PID/stat after the command name; field 3 of the man page is [0].
std::vector<std::string> StatFields(DWORD dwUnixPid)
{
    std::string text;
    std::vector<std::string> fields;
    if (!ReadProcFile(ProcPath(dwUnixPid, L"stat"), &text))
        return fields;
    size_t pos = text.rfind(')');
    if (pos == std::string::npos)
        return fields;
    for (pos = text.find_first_not_of(' ', pos + 1); pos != std::string::npos;) {
        const size_t end = text.find(' ', pos);
        fields.push_back(text.substr(pos, end - pos));
        pos = end == std::string::npos ? end : text.find_first_not_of(" \n", end);
    }
    return fields;
}

// "Name:   value kB" of /proc/PID/status; -1 when missing.
long StatusValue(const std::string& status, const char* pszName)
{
    const std::string key = std::string("\n") + pszName + ":";
    const size_t pos = status.find(key);
    return pos == std::string::npos ? -1 : strtol(status.c_str() + pos + key.size(), nullptr, 10);
}

// The wineserver runs as "wineserver" or "wineserver64": a name matches the start of a file name.
bool StartsWithNoCase(const std::string& a, const std::wstring& b)
{
    if (a.size() < b.size())
        return false;
    for (size_t i = 0; i < b.size(); ++i) {
        if (towlower(static_cast<unsigned char>(a[i])) != towlower(b[i]))
            return false;
    }
    return true;
}

// True when an argument of the NUL-separated command line names the file.
bool CommandLineNames(const std::string& cmdline, const std::wstring& name)
{
    for (size_t pos = 0; pos < cmdline.size();) {
        const size_t end = cmdline.find('\0', pos);
        const std::string arg = cmdline.substr(pos, end - pos);
        const size_t slash = arg.find_last_of("/\\");
        if (StartsWithNoCase(slash == std::string::npos ? arg : arg.substr(slash + 1), name))
            return true;
        pos = end == std::string::npos ? end : end + 1;
    }
    return false;
}

std::string ThisWinePrefix()
{
    char szPrefix[MAX_PATH * 2] = {};
    return GetEnvironmentVariableA("WINEPREFIX", szPrefix, sizeof(szPrefix)) ? szPrefix : "";
}

// A service gets its environment from the service manager, without WINEPREFIX; its image
// lies in the prefix's drive_c, though, and is mapped from there.
bool MapsPrefixFile(DWORD dwUnixPid, const std::string& prefix)
{
    std::string maps;
    return !prefix.empty() && ReadProcFile(ProcPath(dwUnixPid, L"maps"), &maps) &&
        maps.find(" " + prefix + "/drive_c/") != std::string::npos;
}

// The newest process of this Wine prefix whose command line names the file; 0 when none.
// Other build trees run the same programs in their own prefixes at the same time.
DWORD FindUnixProcess(const std::wstring& name)
{
    const std::string prefix = ThisWinePrefix();
    const std::string prefixVar = "WINEPREFIX=" + prefix;
    WIN32_FIND_DATAW data;
    HANDLE hFind = FindFirstFileW(L"Z:\\proc\\*", &data);
    if (hFind == INVALID_HANDLE_VALUE)
        return 0;
    DWORD dwBest = 0;
    unsigned long long ullBestStart = 0;
    do {
        const DWORD dwPid = wcstoul(data.cFileName, nullptr, 10);
        std::string cmdline, environment;
        if (!dwPid || !ReadProcFile(ProcPath(dwPid, L"cmdline"), &cmdline) || !CommandLineNames(cmdline, name) ||
            !ReadProcFile(ProcPath(dwPid, L"environ"), &environment))
            continue;
        environment.insert(0, 1, '\0');
        if (environment.find('\0' + prefixVar + '\0') == std::string::npos && !MapsPrefixFile(dwPid, prefix))
            continue;
        const std::vector<std::string> fields = StatFields(dwPid);
        const unsigned long long ullStart = fields.size() > 19 ? strtoull(fields[19].c_str(), nullptr, 10) : 0;
        if (!dwBest || ullStart >= ullBestStart) {
            dwBest = dwPid;
            ullBestStart = ullStart;
        }
    } while (FindNextFileW(hFind, &data));
    FindClose(hFind);
    return dwBest;
}

double FileTimeMs(const FILETIME& ft)
{
    return static_cast<double>((static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime) / 10000.0;
}

long WindowsThreadCount(DWORD dwWinPid)
{
    HANDLE hSnapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (hSnapshot == INVALID_HANDLE_VALUE)
        return -1;
    long lThreads = -1;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL bMore = Process32FirstW(hSnapshot, &entry); bMore; bMore = Process32NextW(hSnapshot, &entry)) {
        if (entry.th32ProcessID == dwWinPid)
            lThreads = static_cast<long>(entry.cntThreads);
    }
    CloseHandle(hSnapshot);
    return lThreads;
}

}  // namespace

bool RunsUnderWine()
{
    const HMODULE hNtdll = GetModuleHandleW(L"ntdll.dll");
    return hNtdll && GetProcAddress(hNtdll, "wine_get_version");
}

long HandleCount(DWORD dwWinPid)
{
    const auto pfnQuery = reinterpret_cast<PFN_NtQuerySystemInformation>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!pfnQuery || !dwWinPid)
        return -1;
    std::vector<BYTE> buffer(1 << 16);
    for (int nTry = 0; nTry < 8; ++nTry) {
        ULONG cbNeeded = 0;
        const LONG lStatus =
            pfnQuery(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &cbNeeded);
        if (lStatus == kStatusInfoLengthMismatch) {
            buffer.resize(buffer.size() * 2 > cbNeeded ? buffer.size() * 2 : cbNeeded + 4096);
            continue;
        }
        if (lStatus < 0)
            return -1;
        const auto* pTable = reinterpret_cast<const SHandleTable*>(buffer.data());
        long lCount = 0;
        for (ULONG i = 0; i < pTable->ulCount; ++i)
            lCount += pTable->entries[i].usProcessId == static_cast<USHORT>(dwWinPid) ? 1 : 0;
        return lCount;
    }
    return -1;
}

CWatchedProcess::CWatchedProcess(DWORD dwWinPid, const wchar_t* pszUnixName) : m_dwWinPid(dwWinPid)
{
    if (RunsUnderWine())
        m_dwUnixPid = FindUnixProcess(pszUnixName);
    else if (dwWinPid)
        m_hProcess = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, dwWinPid);
}

CWatchedProcess::~CWatchedProcess()
{
    if (m_hProcess)
        CloseHandle(m_hProcess);
}

SProcSample CWatchedProcess::Sample() const
{
    SProcSample sample;
    if (m_dwUnixPid) {
        const std::vector<std::string> fields = StatFields(m_dwUnixPid);
        if (fields.size() > 12)
            sample.dCpuMs =
                (strtod(fields[11].c_str(), nullptr) + strtod(fields[12].c_str(), nullptr)) * kMsPerClockTick;
        std::string status;
        if (ReadProcFile(ProcPath(m_dwUnixPid, L"status"), &status)) {
            sample.lRssKb = StatusValue(status, "VmRSS");
            sample.lThreads = StatusValue(status, "Threads");
        }
        sample.lHandles = HandleCount(m_dwWinPid);
        return sample;
    }
    if (!m_hProcess)
        return sample;
    FILETIME ftCreate, ftExit, ftKernel, ftUser;
    if (GetProcessTimes(m_hProcess, &ftCreate, &ftExit, &ftKernel, &ftUser))
        sample.dCpuMs = FileTimeMs(ftKernel) + FileTimeMs(ftUser);
    PROCESS_MEMORY_COUNTERS counters = {};
    if (GetProcessMemoryInfo(m_hProcess, &counters, sizeof(counters)))
        sample.lRssKb = static_cast<long>(counters.WorkingSetSize / 1024);
    sample.lThreads = WindowsThreadCount(m_dwWinPid);
    DWORD dwHandles = 0;
    if (GetProcessHandleCount(m_hProcess, &dwHandles))
        sample.lHandles = static_cast<long>(dwHandles);
    return sample;
}

}  // namespace bench
