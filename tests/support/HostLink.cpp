#include "HostLink.h"

#include <windows.h>

#include <initializer_list>
#include <vector>

namespace glimtest {

namespace {

// Wine's own exports: run a host program, and map a Windows path to the host's.
using SpawnFn = LONG(CDECL*)(char* const argv[], int nWait);
using UnixNameFn = char*(CDECL*)(const wchar_t* pszPath);

SpawnFn Spawn()
{
    return reinterpret_cast<SpawnFn>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "__wine_unix_spawnvp"));
}

// The host path of a Windows path, or empty.
std::string UnixName(const std::wstring& path)
{
    const auto pfnName =
        reinterpret_cast<UnixNameFn>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name"));
    char* pszName = pfnName ? pfnName(path.c_str()) : nullptr;
    if (!pszName)
        return std::string();
    std::string name(pszName);
    HeapFree(GetProcessHeap(), 0, pszName);
    return name;
}

bool RunHost(std::initializer_list<std::string> args)
{
    const SpawnFn pfnSpawn = Spawn();
    if (!pfnSpawn)
        return false;
    std::vector<std::string> words(args);
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(&word[0]);
    argv.push_back(nullptr);
    return pfnSpawn(argv.data(), 1) == 0;
}

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

bool UnderWine()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

bool Make(const std::wstring& link, const std::wstring& target)
{
    if (UnderWine()) {
        const std::string hostTarget = UnixName(target);
        const std::string hostLink = UnixName(link);
        return !hostTarget.empty() && !hostLink.empty() && RunHost({"ln", "-s", hostTarget, hostLink}) && Exists(link);
    }
    const DWORD dwAttributes = GetFileAttributesW(target.c_str());
    const DWORD dwFlags = (dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY))
        ? SYMBOLIC_LINK_FLAG_DIRECTORY
        : 0;
    return CreateSymbolicLinkW(link.c_str(), target.c_str(), dwFlags) != FALSE;
}

bool MakeHardLink(const std::wstring& link, const std::wstring& target)
{
    return CreateHardLinkW(link.c_str(), target.c_str(), nullptr) != FALSE;
}

bool Remove(const std::wstring& link)
{
    if (UnderWine()) {
        const std::string hostLink = UnixName(link);
        // rm without -r removes a link to a folder, never the folder it points to.
        return !hostLink.empty() && RunHost({"rm", "-f", hostLink}) && !Exists(link);
    }
    if (!RemoveDirectoryW(link.c_str()))
        DeleteFileW(link.c_str());
    return !Exists(link);
}

}  // namespace glimtest
