#include "WineProcStatus.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>

#include "LogTestUtil.h"
#include "ScopedHandle.h"

namespace glimtest {

namespace {

const wchar_t kProcRoot[] = L"Z:\\proc\\";

// The whole content of a /proc file (its size reads as 0, so read to the end).
bool ReadProcFile(const std::wstring& path, std::string* pText)
{
    *pText = glimtest::ReadBytes(path);
    return !pText->empty();
}

std::wstring Lower(std::wstring text)
{
    for (wchar_t& ch : text)
        ch = static_cast<wchar_t>(towlower(ch));
    return text;
}

// NUL-separated UTF-8 words as one wide string, words separated by blanks, lower case.
std::wstring Words(std::string text)
{
    for (char& ch : text) {
        if (ch == '\0')
            ch = ' ';
    }
    std::wstring wide(text.size(), L'\0');
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                                      static_cast<int>(wide.size()));
    wide.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return Lower(wide);
}

// A program's file name in lower case without its folder and without ".exe": Wine shows a
// process's first command-line word as it was given (with or without folder or suffix).
std::wstring BareName(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/");
    std::wstring name = Lower(path.substr(slash == std::wstring::npos ? 0 : slash + 1));
    if (name.size() > 4 && name.compare(name.size() - 4, 4, L".exe") == 0)
        name.resize(name.size() - 4);
    return name;
}

// This prefix's WINEPREFIX as the Wine processes have it in their environment; empty when
// the variable is not set (then processes are not told apart by prefix).
std::wstring OwnPrefixEntry()
{
    wchar_t szPrefix[MAX_PATH] = {};
    const DWORD n = GetEnvironmentVariableW(L"WINEPREFIX", szPrefix, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return std::wstring();
    return Lower(std::wstring(L" wineprefix=") + szPrefix + L" ");
}

unsigned long long StatusField(const std::string& text, const char* pszField)
{
    const size_t pos = text.find(pszField);
    if (pos == std::string::npos)
        return 0;
    return strtoull(text.c_str() + pos + strlen(pszField), nullptr, 10);
}

}  // namespace

bool LinuxProcReadable()
{
    std::string text;
    return ReadProcFile(std::wstring(kProcRoot) + L"self\\status", &text) && text.find("Threads:") != std::string::npos;
}

std::vector<DWORD> LinuxPidsOf(const std::wstring& program)
{
    std::vector<DWORD> pids;
    const std::wstring wanted = BareName(program);
    const std::wstring prefixEntry = OwnPrefixEntry();
    WIN32_FIND_DATAW data = {};
    HANDLE hFind = FindFirstFileW((std::wstring(kProcRoot) + L"*").c_str(), &data);
    if (hFind == INVALID_HANDLE_VALUE)
        return pids;
    do {
        if (!iswdigit(data.cFileName[0]))
            continue;
        const std::wstring dir = std::wstring(kProcRoot) + data.cFileName + L"\\";
        std::string text;
        // The first word only: the text up to its first NUL.
        if (!ReadProcFile(dir + L"cmdline", &text) || BareName(Words(text.c_str())) != wanted)
            continue;
        // Other build trees run the same programs in prefixes of their own.
        if (prefixEntry.empty() ||
            (ReadProcFile(dir + L"environ", &text) &&
             (L" " + Words(text) + L" ").find(prefixEntry) != std::wstring::npos))
            pids.push_back(wcstoul(data.cFileName, nullptr, 10));
    } while (FindNextFileW(hFind, &data));
    FindClose(hFind);
    return pids;
}

bool ReadUsage(DWORD dwWindowsPid, DWORD dwLinuxPid, SUsage* pUsage)
{
    *pUsage = SUsage();
    bool bOk = true;
    if (dwWindowsPid) {
        const glim::CScopedHandle hProcess(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, dwWindowsPid));
        bOk = hProcess && GetProcessHandleCount(hProcess.Get(), &pUsage->dwHandles);
    }
    if (dwLinuxPid) {
        std::string text;
        bOk = bOk && ReadProcFile(std::wstring(kProcRoot) + std::to_wstring(dwLinuxPid) + L"\\status", &text);
        pUsage->dwThreads = static_cast<DWORD>(StatusField(text, "Threads:"));
        pUsage->ullRssKb = StatusField(text, "VmRSS:");
        bOk = bOk && pUsage->dwThreads > 0;
    }
    return bOk;
}

}  // namespace glimtest
