#include "ProgramFiles.h"

#include <winver.h>

#include <vector>

#include "ScopedHandle.h"

namespace glimctl {

namespace {
// Modules loaded as data files, to read their resources.
struct SModuleTraits {
    using Type = HMODULE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { FreeLibrary(h); }
};
using CScopedModule = glim::CScoped<SModuleTraits>;
}  // namespace

std::wstring FileVersion(const std::wstring& strPath)
{
    DWORD dwHandle = 0;
    const DWORD cb = GetFileVersionInfoSizeW(strPath.c_str(), &dwHandle);
    std::vector<BYTE> data(cb);
    VS_FIXEDFILEINFO* pInfo = nullptr;
    UINT cbInfo = 0;
    if (!cb || !GetFileVersionInfoW(strPath.c_str(), 0, cb, data.data()) ||
        !VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&pInfo), &cbInfo) || !pInfo)
        return L"no version resource";
    return std::to_wstring(HIWORD(pInfo->dwFileVersionMS)) + L"." + std::to_wstring(LOWORD(pInfo->dwFileVersionMS)) +
        L"." + std::to_wstring(HIWORD(pInfo->dwFileVersionLS)) + L"." + std::to_wstring(LOWORD(pInfo->dwFileVersionLS));
}

std::string ManifestOf(const std::wstring& strPath)
{
    const CScopedModule hModule(
        LoadLibraryExW(strPath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    if (!hModule)
        return std::string();
    std::string strManifest;
    const HRSRC hResource = FindResourceW(hModule.Get(), MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));  // RT_MANIFEST
    const HGLOBAL hData = hResource ? LoadResource(hModule.Get(), hResource) : nullptr;
    const void* pData = hData ? LockResource(hData) : nullptr;
    if (pData)
        strManifest.assign(static_cast<const char*>(pData), SizeofResource(hModule.Get(), hResource));
    return strManifest;
}

}  // namespace glimctl
